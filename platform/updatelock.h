#ifndef UPDATELOCK_H
#define UPDATELOCK_H

#include <QCoreApplication>
#include <QString>

#include <memory>

class LockFile;

// The one lock of an application folder's updates. Whatever changes the application folder or
// the updater's own folder inside it (recovery, cleaning, downloading, installing) holds it, so
// that a second updater never works under a first one's feet. The lock file lies in the
// updater's own folder, opened without following a link; a lock that no live process holds is
// taken over (see LockFile), with no time limit: a long install never loses its lock. Holders in
// one process share one lock, so the installer can take it on its thread while the dialog holds
// it.
class UpdateLock
{
    Q_DECLARE_TR_FUNCTIONS(UpdateLock)

public:
    enum class Error { NoError, HeldElsewhere, Unusable };

    // folder: the updater's own folder, created when it is missing.
    explicit UpdateLock(const QString &folder);
    // Releases this holding; the lock goes with the last holder in the process.
    ~UpdateLock();
    UpdateLock(const UpdateLock &) = delete;
    UpdateLock &operator=(const UpdateLock &) = delete;

    // Takes the lock without waiting; false when another process holds it, or it cannot be made.
    bool tryLock();
    void unlock();
    bool isLocked() const;
    Error error() const;
    // HeldElsewhere: "another update is running", with the holder where its file names one;
    // Unusable: why the folder or the lock cannot be used.
    QString errorString() const;

    // Whether another process holds the lock of folder now, and then who, as errorString() says.
    // Takes, creates and removes nothing.
    static bool isHeldElsewhere(const QString &folder, QString *holder = nullptr);

    // Whether a file of that name in the updater's folder could be the lock or one of its
    // helpers, in any case: such a name is no name for a download.
    static bool isLockFileName(const QString &name);

    // The updater's own folder within an application folder: downloads and the lock live there.
    static QString folderName();
    static QString folderOf(const QString &appDir);

private:
    static QString heldText(const QByteArray &holder);

    QString folder;
    QString path;
    std::shared_ptr<LockFile> holding;
    Error lastError = Error::NoError;
    QString detail;
};

#endif // UPDATELOCK_H
