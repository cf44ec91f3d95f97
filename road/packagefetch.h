#ifndef PACKAGEFETCH_H
#define PACKAGEFETCH_H

#include "install/packagekind.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class Downloader;
class FileDigest;
class QFile;
class QNetworkReply;
class ReleaseTrust;
class UpdateLock;

// One press of "update", from the address to a package that may be used: in a signed build the
// package's signature first (a package that could never be installed is not fetched), then the
// package by its own downloader, its bytes against the signature, and the file held open against
// change until it has been used. Ends in one finished() per start().
class PackageFetch : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Held, // package() is the verified package, held
        DownloadFailed, // the downloader says why, or a delta that did not fit has no whole
                        // package behind it
        SignatureInvalid, // signed build: the signature missing, not ours, or not these bytes
        Rejected, // the file changed after it was downloaded, or could not be held
    };
    // trust and lock outlive the fetch; lock is the application folder's update lock, which
    // the caller holds while a fetch runs.
    PackageFetch(ReleaseTrust &trust, UpdateLock *lock, QObject *parent);
    // Stops a recheck that still reads the held package.
    ~PackageFetch() override;

    void start(const QString &url, PackageKind kind);
    // The delta package against the installed release from, in place of the incremental zip at
    // wholeUrl. A delta that fails to arrive, to verify or to be held is given up for the zip
    // at once (fellBack()); finished() then tells of the zip, or of its absence.
    void startDelta(const QString &url, const QString &from, const QString &wholeUrl);
    // After a delta that was held could not be installed: the whole package is fetched instead,
    // and finished() follows for it; without a whole package to fetch, finished() says so at
    // once. False (nothing done) when the fetch was no delta.
    bool fallBack(const QString &why, bool signatureInvalid = false);
    // What the held package was fetched as, kept with it so that no later fetch relabels it.
    PackageKind kind() const;
    // Why the last fetch or recheck did not end in a held package: the detail for the warning
    // output, and the line for the user.
    QString errorString() const;
    QString reason() const { return reasonLine; }

    // The held package, positioned anywhere; null when none is held.
    QFile *package() const;
    // The final file's path, and whether it (by its name, or the held handle) is still the very
    // file that was downloaded and verified.
    QString packagePath() const;
    bool pathUnchanged() const;
    bool heldUnchanged() const;
    // The hold ends: the package may change or go. Not while a recheck runs.
    void release();
    // The hold ends on a package that was not wanted now: the next start() of its address and
    // kind takes it again, without a download, while it is the very file downloaded (and, in a
    // signed build, while a signature fetched anew verifies over it).
    void decline();
    // Once the held package was used: every other file of the download folder goes.
    void tidy();
    // Hashes the held package once more, on a thread; rechecked() follows. Where the system does
    // not hold the file (Unix), what was verified as it arrived may have changed in place since.
    void recheck();

signals:
    void finished(PackageFetch::Outcome outcome);
    void rechecked(bool ok);
    // The delta is given up for the whole package, which is being fetched.
    void fellBack();
    // A line for the log: the delta's size once known, why it was given up, a retry, the
    // network's error.
    void note(const QString &line);
    // Of the download under way, as Downloader::doProgress; and its end, before finished().
    void progress(qint64 received, qint64 total);
    void downloadEnded();

private:
    void startDownload(const QString &url);
    void downloadFinished();
    bool wholeUsable() const;
    void noteDeltaSize(qint64 total);
    void finish(Outcome outcome, const QString &why, const QString &reason = QString());
    bool reusable(const QUrl &url, PackageKind kind) const;
    void startKept();
    bool hold();
    void recheckFinished(const QByteArray &digest);

    Downloader *downloader;
    ReleaseTrust &trust;
    PackageKind current = PackageKind::Incremental;
    // The address of the fetch under way or last ended; signatures are bound to it.
    QUrl address;
    QString whole;
    QString deltaFrom;
    bool sizeNoted = false;
    QString why;
    QString reasonLine;
    // The package declined last, by its address and kind; taken again (reusing) by a start().
    QUrl keptAddress;
    PackageKind keptKind = PackageKind::Incremental;
    bool reusing = false;
    std::unique_ptr<QFile> held;
    PackageKind heldKind = PackageKind::Incremental;
    // Reads held, so it is ended before held closes.
    FileDigest *digest = nullptr;
};

#endif // PACKAGEFETCH_H
