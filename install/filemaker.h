#ifndef FILEMAKER_H
#define FILEMAKER_H

#include "install/packagekind.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

class PackagePlan;
class RemovalList;
class QIODevice;

// How the files of one kind of package are made in the staging folder, each from its entry of
// the package: copied as it is unpacked, or made by a patch from the installed file. Every kind
// is checked whole by read() before a byte is written, and staged the same way afterwards.
class FileMaker
{
public:
    using Sink = std::function<bool(const char *data, qint64 size)>;

    // The maker for packages of kind, to be installed into target (canonical); none for the
    // full installer, which is started rather than installed.
    static std::unique_ptr<FileMaker> forKind(PackageKind kind, const QString &target);

    virtual ~FileMaker();

    // Reads every header of package (open and seekable) from its start, and whatever else the
    // kind needs to check before writing; name is what a refusal calls the package.
    virtual bool read(QIODevice *package, const QString &name) = 0;
    // After read(): the files made, one per entry that makes one, in the package's order.
    virtual const PackagePlan &plan() const = 0;
    // Entries of the package before the one that makes plan()'s first.
    virtual int leadingEntries() const = 0;
    // After read(): the files of older releases the package removes, where they are unchanged.
    virtual const RemovalList &removals() const = 0;

    // Starts file index of plan(), then passes what its entry holds, piece by piece, to add(),
    // which hands what it makes to write, in order; end() after the last piece. A refusal is
    // the package's fault; a sink that refuses has said why itself.
    virtual bool begin(int index) = 0;
    virtual bool add(const char *data, qint64 size, const Sink &write) = 0;
    virtual bool end() = 0;
    // Why read(), begin(), add() or end() refused.
    virtual QString errorString() const = 0;
};

#endif // FILEMAKER_H
