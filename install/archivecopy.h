#ifndef ARCHIVECOPY_H
#define ARCHIVECOPY_H

#include "install/filemaker.h"
#include "install/packageplan.h"
#include "install/removallist.h"

// The files of an incremental package: every entry copied as libarchive inflates it, but a first
// entry that lists the files to remove, which is read instead.
class ArchiveCopy : public FileMaker
{
public:
    // Refuses a zip whose first entry is delta.json too.
    bool read(QIODevice *package, const QString &name) override;
    const PackagePlan &plan() const override;
    int leadingEntries() const override;
    const RemovalList &removals() const override;

    bool begin(int index) override;
    bool add(const char *data, qint64 size, const Sink &write) override;
    bool end() override;
    QString errorString() const override;

private:
    bool fail(const QString &why);

    PackagePlan entries;
    RemovalList listed;
    QString error;
};

#endif // ARCHIVECOPY_H
