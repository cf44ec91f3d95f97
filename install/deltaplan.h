#ifndef DELTAPLAN_H
#define DELTAPLAN_H

#include "install/deltaindex.h"
#include "install/packageplan.h"

#include <QString>

class QIODevice;

// Every check of a delta package before a byte is written: the zip passes the checks of any
// package; its first entry is delta.json, whose index names the other entries one for one and
// in order; a whole new file's entry declares the size its result must have; all results
// together declare no more than the bomb rule allows the delta and the files it patches. The
// files the delta makes are planned as a package's would be (names, places, clashes, sizes), so
// that the Installation stages and moves them as it does a package's.
class DeltaPlan
{
public:
    // package open and seekable; name is what a refusal calls it; target is the installed
    // folder the delta's patches apply to.
    bool read(QIODevice *package, const QString &name, const QString &target);
    QString errorString() const;

    const DeltaIndex &index() const;
    // The files the delta makes, one per index file, in order: the package's entry i + 1.
    const PackagePlan &result() const;

private:
    bool fail(const QString &why);
    bool readIndex(QIODevice *package);
    bool matchEntries(const PackagePlan &package);
    bool checkInflation(qint64 packageSize, const QString &target);

    DeltaIndex deltaIndex;
    PackagePlan made;
    QString error;
};

#endif // DELTAPLAN_H
