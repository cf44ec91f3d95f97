#ifndef PACKAGEINSTALLER_H
#define PACKAGEINSTALLER_H

#include <QString>

#include <atomic>

class PackagePlan;
class QFile;

// Unpacks a zip package over a target directory, all or nothing, also across a crash. Under the
// update lock, once what earlier installs left is settled, every entry is checked against the
// limits and the Windows naming rules before anything is inflated (PackagePlan); the files are
// then streamed into a staging folder inside the target, and only then moved into place, with a
// journal beside them from which an interrupted move is rolled back (Installation). A delta
// package takes the same road, its files made from the installed ones (DeltaPlan, DeltaStaging).
class PackageInstaller
{
public:
    enum class Error {
        NoError,
        Busy, // another updater holds the update lock, or an earlier install is not settled
        Refused, // the package's fault: unreadable, unsafe or over a limit
        NoSpace, // the target's disk cannot hold what the package declares; nothing written
        WriteFailed, // a write or a move that failed; rolled back
        Cancelled, // rolled back
        RollBackIncomplete, // a failure whose undo could not finish: the backups are kept
    };

    // What the package is: a zip of the files themselves, or a delta package (delta.json, then
    // per file a zstd patch against the installed file or the file itself). A zip whose first
    // entry is delta.json is a delta package, and refused as a zip.
    enum class Format { Zip, Delta };

    PackageInstaller(const QString &packagePath, const QString &targetDir);
    // Reads an already open, seekable package from its start; the file is not closed.
    PackageInstaller(QFile *package, const QString &targetDir);

    // Entries whose first path component is this name, in any case, are refused.
    void setProtectedFolder(const QString &name);
    void setFormat(Format format);

    // True when every entry of the package now lies in the target directory. Takes the update
    // lock of the target and settles what earlier installs left first.
    bool install();
    Error error() const;
    // Why the last install() refused or failed, for the log; empty after success.
    QString errorString() const;

    // Callable from any thread: the install stops at the next piece or file, rolls back, and
    // install() returns false with Error::Cancelled.
    void cancel();

private:
    bool settleEarlierInstalls();
    static bool isDelta(const PackagePlan &plan);
    bool refuse(Error kind, const QString &why);

    QString packagePath;
    QFile *package = nullptr;
    QString targetDir;
    QString protectedFolder;
    Format format = Format::Zip;
    Error lastError = Error::NoError;
    QString reason;
    std::atomic<bool> cancelled { false };
};

#endif // PACKAGEINSTALLER_H
