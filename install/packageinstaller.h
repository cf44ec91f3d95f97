#ifndef PACKAGEINSTALLER_H
#define PACKAGEINSTALLER_H

#include "install/installerror.h"
#include "install/packagekind.h"

#include <QString>
#include <QStringList>

#include <atomic>

class QFile;
class UpdateLock;

// Unpacks a zip package over a target directory, all or nothing, also across a crash. Under the
// update lock, once what earlier installs left is settled, every entry is checked against the
// limits and the Windows naming rules before anything is inflated (PackagePlan); the files are
// then streamed into a staging folder inside the target, and only then moved into place, with a
// journal beside them from which an interrupted move is rolled back (Installation). How the
// files are made depends on the package's kind (FileMaker).
class PackageInstaller
{
public:
    using Error = InstallError;

    // kind says how the package is read; a zip whose first entry is delta.json is a delta
    // package, and refused as an incremental one.
    PackageInstaller(const QString &packagePath, const QString &targetDir,
                     PackageKind kind = PackageKind::Incremental);
    // Reads an already open, seekable package from its start; the file is not closed.
    PackageInstaller(QFile *package, const QString &targetDir,
                     PackageKind kind = PackageKind::Incremental);

    // The target's update lock, which the caller holds from before install() to after it: then
    // none is taken here.
    void setLock(const UpdateLock *held) { callerLock = held; }
    // True when every entry of the package now lies in the target directory. Holds the update
    // lock of the target and settles what earlier installs left first.
    bool install();
    Error error() const;
    // Why the last install() refused or failed, for the log; empty after success.
    QString errorString() const;
    // After a successful install(): what became of the files of older releases it removes,
    // "removed PATH" or "kept PATH (changed by the user)".
    QStringList notes() const { return removalNotes; }

    // Callable from any thread: the install stops at the next piece or file, rolls back, and
    // install() returns false with Error::Cancelled.
    void cancel();

private:
    bool installFrom(QFile *file);
    bool settleEarlierInstalls(const UpdateLock &lock);
    bool fail(Error kind, const QString &why);

    QString packagePath;
    QFile *package = nullptr;
    QString targetDir;
    PackageKind kind;
    const UpdateLock *callerLock = nullptr;
    Error lastError = Error::NoError;
    QString reason;
    QStringList removalNotes;
    std::atomic<bool> cancelled { false };
};

#endif // PACKAGEINSTALLER_H
