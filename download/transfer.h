#ifndef TRANSFER_H
#define TRANSFER_H

#include "download/downloadstatus.h"
#include "download/redirectchain.h"
#include "download/resumepolicy.h"
#include "platform/fileidentity.h"
#include "platform/nativedir.h"

#include <QByteArray>
#include <QFile>
#include <QString>

class HashWorker;
class QNetworkReply;
class QThread;
class TransferWatch;
class QUrl;
class UpdateLock;

// Everything that belongs to one transfer of the Downloader: its reply and the reply's watch, the
// partial file, how far it got and why it failed, and the hashing beside the writing. The
// Downloader makes a new one at each download() and keeps it until the next, so nothing of an
// earlier transfer is ever reset by hand. The reply and its watch belong to the Downloader; the
// hashing thread and its worker belong to the transfer.
struct Transfer
{
    Transfer() = default;
    // Stops the hashing thread and waits for it.
    ~Transfer();
    Q_DISABLE_COPY(Transfer)

    // Records why the transfer fails. The first cause found is the one told: what follows it
    // (the abort of the reply, say) is only its consequence. values: what is known of the cause.
    void fail(Download::Error error, const QString &why, const NetworkFailure &values = {});
    // The same with the cause alone, the reply (if any) telling its host and status.
    void fail(Download::Error error, const QString &why, NetworkFailure::Cause cause);
    bool failed() const { return kind != Download::Error::NoError; }
    // For a finished reply, how it ended for the file: as the watch judges it, or Network for a
    // file short of its complete length; why says so in a line.
    Download::Error verdict(QString *why) const;
    // Fails the transfer as verdict() judges the finished reply, if it finds fault.
    void applyWatchVerdict();

    // Starts the hashing thread and its worker; stopHasher() ends both. Their signals are the
    // Downloader's to connect.
    void startHasher();
    void stopHasher();
    // Opens the download folder at path by its handle, taking lock (of that folder) on the way;
    // false, with the transfer failed, when it is a link, cannot be opened, or is held elsewhere.
    bool openFolder(const QString &path, UpdateLock *lock);
    // The file's name from the reply's Content-Disposition, else the last segment of url's path;
    // names of the folder's own files are refused. Without a usable name, name stays as it is.
    void chooseName(const QUrl &url, QString *name) const;
    // After a failure: whether the partial file name is kept, with its record, for the next
    // download of url to go on with (a network cut, a busy server, a cancel, and a resumable
    // answer).
    bool keepPartial(const QUrl &url, const QString &name, int status) const;
    // The transfer is left unfinished (cancelled): its partial file name is kept for the next
    // download of url where it can be, else removed.
    void leave(const QUrl &url, const QString &name, int status);
    // Every file in the download folder at path but keep and the update lock's own goes; only
    // under that lock.
    static void tidy(const QString &path, const QString &keep);
    // Moves an earlier package name out of the way, to its dated backup or away.
    void retire(const QString &name);
    // Takes the room the folder's volume has now, for fits().
    void measureRoom();
    // Whether a file of size bytes stays within the bounds of a download; if not, the transfer
    // fails saying which.
    bool fits(qint64 size);
    // Writes data to the partial file name (created at the first bytes; one kept from earlier is
    // open from the start), counts it and hashes it; false, with the transfer failed, when it
    // cannot.
    bool save(const QString &name, const QByteArray &data);
    // Hands bytes just written to the hasher, if any, and counts them as not yet hashed.
    void hash(const QByteArray &piece);
    // The same for the bytes kept in the partial file name, read on the hasher's thread.
    void hashFile(const QString &name);

    // Fails the transfer as one that cannot write name, "disk full" in so many words where it
    // is so; false, for the writer to return.
    bool failToWrite(const QString &name, const QString &detail);
    // The file starts again from its first byte under name, and so does its hash.
    void startAgain(const QString &name);
    // Closes the partial file, taking its identity from the handle that wrote it.
    void closePart();
    // Gives the partial file its final name, which must then lead (by path too) to the very
    // file written: that is the identity kept.
    void rename(const QString &partName, const QString &finalName);

    QNetworkReply *reply = nullptr; // null once it has finished
    TransferWatch *watch = nullptr; // the reply's child, gone with it
    NativeDir folder; // the download folder, by its handle, while the transfer runs
    QString folderPath;
    QFile part; // "<name>.part", open while written
    FileIdentity writtenTo; // of the partial file, as its handle knew it at the end
    qint64 room = 0; // the bytes that fit the volume, where known
    bool roomKnown = false;
    qint64 written = 0; // bytes in the partial file, those of earlier answers included
    ResumePolicy policy; // what each answer means for the next request
    bool answered = false; // the current reply's headers have been judged
    bool accepted = false; // and its body belongs to the file
    // The redirects of the current request, which starts at the address asked for each time;
    // hopping: the current reply is a redirect that is followed.
    RedirectChain chain;
    bool hopping = false;
    qint64 base = 0; // bytes in the file before the current answer's body
    Download::Error kind = Download::Error::NoError;
    QString reason; // empty while nothing went wrong
    // The cause as values; for a full disk found by measure, the bytes needed and free.
    NetworkFailure network;
    qint64 needed = -1;
    qint64 available = -1;

    QThread *hashThread = nullptr;
    HashWorker *hasher = nullptr; // null without hashing, and once stopped
    qint64 unhashed = 0; // bytes handed to the hasher and not yet hashed
    QByteArray digest;
    // The final file, checked against the handle that wrote it.
    FileIdentity identity;
};

#endif // TRANSFER_H
