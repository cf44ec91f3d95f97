#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include "download/downloadstatus.h"
#include "platform/fileidentity.h"
#include "platform/updatelock.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

struct Transfer;

// Fetches one http or https URL into the updater's own download folder (folderName() inside
// the application directory), under the name the server gives in its Content-Disposition
// header (or, lacking a usable one, the last segment of the URL's path, never of an address it is
// redirected to). Redirects are followed as RedirectChain allows. Bytes go to
// "<name>.part" as they arrive; a transfer that ends well is renamed to "<name>", and an
// earlier file of that name becomes its dated backup "<name>_yyyy-MM-dd". A body that the network
// cuts short after some bytes is asked for again (NetworkLimits::retryCount times, doRetry before
// each): for the rest where the server names a validator and the complete length, else from
// zero; a busy server (503 and the like) is asked again too. Anything else (a status but 200, an
// empty body, a timeout, a full disk, cancel()) is a failure: error() tells its kind and
// errorString() says why. A failure of the network leaves its ".part", where it can be resumed,
// with a PartialRecord of it for the next download() of the same address to go on with, and so
// do cancel() and the destruction of a Downloader at work; any other address and a failure of
// another kind remove it. Nothing outside the folder is
// ever touched: it and its files are opened by handle, never through a link, and a body stops
// at NetworkLimits::downloadMaxBytes and at the free space of the volume less a reserve. Nothing
// in it is touched while another updater holds the folder's update lock: from its start to its
// end a transfer holds that lock, and a transfer that cannot take it fails at once ("another
// update is running", Busy).
class Downloader : public QObject
{
    Q_OBJECT

public:
    explicit Downloader(QObject *parent);
    // A transfer still under way is stopped and its ".part" kept for resuming where it can be,
    // else removed; no signal follows.
    ~Downloader() override;

    // The download folder's name within the application directory.
    static QString folderName() { return UpdateLock::folderName(); }

    // Starts a transfer of url. Ignored while a transfer is under way. Results come by the
    // signals, also for an address refused at once (empty, or no web address): doFinished
    // always comes from the event loop.
    void download(const QString &url);
    // Ends a running transfer as a failure ("cancelled"); doFinished follows as usual.
    void cancel();
    // After doFinished: the final file, by its absolute path in the download folder. Whether
    // it holds the new package tells succeeded().
    QFile *file() { return &finalFile; }

    using Error = Download::Error;
    using Retry = Download::Retry;

    // How the last finished transfer ended: its kind of failure, its HTTP status (0 without an
    // answer), whether the whole body now lies at file() and, if not, one short line saying
    // why (empty after success).
    Error error() const { return last.error; }
    int httpStatus() const { return last.status; }
    bool succeeded() const { return last.complete; }
    QString errorString() const { return last.reason; }
    // The same failure as values, for a line that tells the user why.
    Download::Failure failure() const { return last.failure; }

    // With hashing on, every byte written is also hashed (BLAKE2b-512) on a worker thread, and
    // after a successful transfer digest() is the hash of exactly the final file's bytes;
    // doFinished waits for it. Empty otherwise. Set between transfers.
    void setHashing(bool on) { hashing = on; }
    QByteArray digest() const;
    // After a successful transfer: the identity of the final file, checked against the handle
    // that wrote it, so a later check can tell that the file is still the one downloaded (and
    // hashed). Invalid otherwise.
    FileIdentity identity() const;

    // The lock of the download folder, which the caller holds from before the first transfer to
    // after the last: transfers then take none of their own. Set between transfers.
    void setLock(UpdateLock *held) { roadLock = held; }
    // Once the last transfer's file has been used: every other file in the folder goes, earlier
    // packages, dated copies and partial downloads alike; the file in use and the update lock's
    // own files stay. Only under the lock set by setLock(), between transfers.
    void tidy();
    // Where files land; the download folder unless set. Meant for tests, between transfers.
    void setTargetDirectory(const QString &path) { targetDir.setPath(QDir(path).absolutePath()); }

signals:
    // Bytes of the whole file so far, of its complete length (-1 while unknown): a resumed body
    // goes on from the bytes saved before it.
    void doProgress(qint64, qint64);
    // The network's error of the request that ended the transfer; requests that are asked again
    // report none.
    void onError(QNetworkReply::NetworkError);
    void doFinished();
    // Another request of the same transfer follows in waitMs: why, where the file stands for it
    // (0: it starts again), and which retry it is of how many.
    void doRetry(Download::Retry cause, qint64 resumeAt, int waitMs, int attempt, int attempts);

private:
    // How the last transfer ended, kept until the next one starts.
    struct Result
    {
        Error error = Error::NoError;
        int status = 0;
        bool complete = false;
        QString reason;
        Download::Failure failure;
    };

    bool busy = false;
    bool hashing = false;
    QUrl url;
    QString fileName;
    QDir targetDir;
    QFile finalFile;
    // The folder's lock, held from the start of a transfer to its end; only then is the folder
    // ours to change. Either the caller's, or one the transfer took itself.
    UpdateLock *lock = nullptr;
    UpdateLock *roadLock = nullptr;
    std::unique_ptr<UpdateLock> ownLock;
    Result last;
    // The transfer under way, or the last one (its digest and identity) until the next.
    std::unique_ptr<Transfer> transfer;
    // The wait between two requests of one transfer.
    QTimer pause;

    bool lockFolder();
    void startReply();
    void sendHop();
    void headersArrived();
    void saveArrived(bool evenIfBacklogged);
    void replyFinished();
    bool askAgain();
    void end();
    void fail(Error kind, const QString &why, NetworkFailure::Cause cause = {});
    // Aborts the current reply from the event loop; nothing more of it is read.
    void abortLater();
    // Fails a transfer that never got a reply, from the event loop; code, unless NoError, is
    // reported by onError first.
    void failLater(Error kind, const QString &why, QNetworkReply::NetworkError code,
                   NetworkFailure::Cause cause = {});
    void startHasher();
    QString partName() const;
};

#endif // DOWNLOADER_H
