#ifndef DELTASTAGING_H
#define DELTASTAGING_H

#include "install/deltapatch.h"
#include "install/deltaplan.h"
#include "install/filemaker.h"

#include <QFile>
#include <QString>

#include <memory>

class Blake2b512;

// Makes the files of a delta package, one at a time, from the package's entries and the
// installed files: a patch only against an installed file whose digest is the one the index
// expects, every result held to its declared size and digest. What it refuses means the delta
// does not fit this installation (or is damaged); nothing here writes to the target.
class DeltaStaging : public FileMaker
{
public:
    // target is the installed folder, canonical.
    explicit DeltaStaging(const QString &target);
    ~DeltaStaging() override;

    bool read(QIODevice *package, const QString &name) override;
    // The package's first entry is its index.
    const PackagePlan &plan() const override;
    int leadingEntries() const override;
    const RemovalList &removals() const override;

    // Maps and checks the installed file for a patch.
    bool begin(int index) override;
    bool add(const char *data, qint64 size, const Sink &write) override;
    // The result is whole and its digest the expected one. The installed file is let go
    // either way.
    bool end() override;
    QString errorString() const override;

private:
    bool fail(const QString &why);
    void letGo();

    QString target;
    DeltaPlan delta;
    int current = -1;
    QFile base;
    uchar *baseBytes = nullptr;
    std::unique_ptr<DeltaPatch> patch;
    std::unique_ptr<Blake2b512> digest;
    QString error;
};

#endif // DELTASTAGING_H
