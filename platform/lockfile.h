#ifndef LOCKFILE_H
#define LOCKFILE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QtGlobal>

// The file behind the update lock, held by this process while the object holds it. A lock is
// stale when no live process holds it, as far as the system can tell: on Unix when an exclusive
// flock on it succeeds, on Windows when the file can be deleted (its holder keeps it open without
// delete sharing). A stale file is taken over whatever it says; a folder, a link or anything else
// in its place is removed, never followed. The lock's folder is opened without following a link,
// inside a parent folder the caller trusts.
class LockFile
{
    Q_DECLARE_TR_FUNCTIONS(LockFile)

public:
    enum class Result { Taken, Held, Unusable };

    LockFile() = default;
    ~LockFile();
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    // The lock fileName in folderName of parent (created when missing), with content written
    // into it for those who find it held.
    Result acquire(const QString &parent, const QString &folderName, const QString &fileName,
                   const QByteArray &content);
    // Removes the file while still holding it, then lets go.
    void release();
    // Whether another process holds the lock now; creates, removes and keeps nothing. holder
    // receives what the holder wrote.
    static bool isHeld(const QString &parent, const QString &folderName, const QString &fileName,
                       QByteArray *holder);

    // After Held, what the holder wrote; after Unusable, why.
    QByteArray holder() const;
    QString errorString() const;

private:
    Result unusable(const QString &why);

    qintptr handle = -1;
    qintptr folder = -1; // Unix: the lock's folder, for the removal at release
    QString name;
    QByteArray holderContent;
    QString detail;
};

#endif // LOCKFILE_H
