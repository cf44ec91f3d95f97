#ifndef DELTASTAGING_H
#define DELTASTAGING_H

#include "install/deltaindex.h"
#include "install/deltapatch.h"

#include <QFile>
#include <QString>

#include <memory>

class Blake2b512;

// Makes the files of a delta package, one at a time, from the package's entries and the
// installed files: a patch only against an installed file whose digest is the one the index
// expects, every result held to its declared size and digest. What it refuses means the delta
// does not fit this installation (or is damaged); nothing here writes to the target.
class DeltaStaging
{
public:
    // index outlives the staging; target is the installed folder, canonical.
    DeltaStaging(const DeltaIndex &index, const QString &target);
    ~DeltaStaging();

    // Starts file index of the index: maps and checks the installed file for a patch.
    bool begin(int index);
    // The next piece of the file's entry; what it makes goes to write, in order.
    bool take(const char *data, qint64 size, const DeltaPatch::Sink &write);
    // After the entry's last piece: the result is whole and its digest the expected one. The
    // installed file is let go either way.
    bool end();
    QString errorString() const;

private:
    bool refuse(const QString &why);
    void letGo();

    const DeltaIndex &index;
    QString target;
    int current = -1;
    QFile base;
    uchar *baseBytes = nullptr;
    std::unique_ptr<DeltaPatch> patch;
    std::unique_ptr<Blake2b512> digest;
    QString error;
};

#endif // DELTASTAGING_H
