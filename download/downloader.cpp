#include "download/downloader.h"

#include "download/dispositionname.h"
#include "download/hashworker.h"
#include "download/networklimits.h"
#include "download/transfer.h"
#include "download/transferwatch.h"
#include "platform/updatelock.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QStorageInfo>

namespace {

// The largest single write: larger writes at once send the page cache into slow copies (see
// docs/benchmarks.md).
constexpr qint64 writeSlice = 256 * 1024;
// What is taken from the reply at a time: small enough that several pieces fit in the hash
// backlog, so the GUI thread reads and writes the next while the hasher works on the last.
constexpr qint64 readPiece = 512 * 1024;

// Moves an earlier package out of the way: to its dated backup, or, where that day's backup
// exists already, away altogether. Anything but a plain file is left alone.
void retire(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return;
    const QString backup
            = path + QLatin1Char('_') + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    if (!QFile::rename(path, backup))
        QFile::remove(path);
}

// Partial files of earlier runs (a crash, a power cut) would otherwise keep their space for
// good. The folder is ours, so every ".part" in it is one of them.
void removeLeftovers(const QDir &dir)
{
    const QFileInfoList parts = dir.entryInfoList({ QStringLiteral("*.part") },
                                                  QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &part : parts)
        QFile::remove(part.filePath());
}

} // namespace

Downloader::Downloader(QObject *parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
    , targetDir(UpdateLock::folderOf(QCoreApplication::applicationDirPath()))
{ }

Downloader::~Downloader()
{
    if (!transfer)
        return;
    if (transfer->reply) {
        disconnect(transfer->reply, nullptr, this, nullptr);
        transfer->reply->abort();
    }
    transfer->stopHasher();
    if (lock) {
        transfer->part.close();
        if (!fileName.isEmpty())
            QFile::remove(partPath());
    }
}

QString Downloader::folderName()
{
    return UpdateLock::folderName();
}

void Downloader::download(const QString &url)
{
    if (busy)
        return;
    if (!url.isEmpty())
        this->url.setUrl(url, QUrl::TolerantMode);
    // Without any address there is no transfer, and busy stays down so a later address is taken.
    if (this->url.isEmpty())
        return;
    busy = true;
    last = Result();
    transfer = std::make_unique<Transfer>();
    // A file:// address would copy any local program in as the package, and other schemes
    // mean nothing for a package.
    if (!NetworkLimits::isWebAddress(this->url)) {
        failLater(Error::Refused, QStringLiteral("not an http or https address"),
                  QNetworkReply::ProtocolUnknownError);
        return;
    }
    if (!takeFolder())
        return;
    if (hashing)
        startHasher();
    startReply();
}

// Nothing in the folder is looked at before the lock is ours: the ".part" files there may be
// another updater's. Taking the lock creates the folder.
bool Downloader::takeFolder()
{
    auto folderLock = std::make_unique<UpdateLock>(targetDir.path());
    if (!folderLock->tryLock()) {
        const bool held = folderLock->error() == UpdateLock::Error::HeldElsewhere;
        failLater(held ? Error::Busy : Error::WriteFailed,
                  held ? QStringLiteral("another update is running") : folderLock->errorString(),
                  QNetworkReply::NoError);
        return false;
    }
    lock = std::move(folderLock);
    removeLeftovers(targetDir);
    retire(targetDir.filePath(fileName));
    return true;
}

void Downloader::startReply()
{
    QNetworkReply *const reply = manager->get(NetworkLimits::request(url));
    reply->setReadBufferSize(NetworkLimits::readBufferBytes);
    transfer->reply = reply;
    // The watch first, so that it has judged the headers before the handlers below see them.
    transfer->watch = new TransferWatch(reply);
    // Every handler checks that its reply is still the current one: a handler of doFinished may
    // have started the next transfer while the old reply still emits.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply == transfer->reply)
            headersArrived();
    });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64 total) { emit doProgress(received, total); });
    // Reading as bytes arrive is what lets the bounded read buffer refill.
    connect(reply, &QIODevice::readyRead, this, [this, reply] {
        if (reply == transfer->reply)
            saveArrived(false);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == transfer->reply)
            replyFinished();
    });
    connect(reply, SIGNAL(errorOccurred(QNetworkReply::NetworkError)), this,
            SIGNAL(onError(QNetworkReply::NetworkError)));
}

void Downloader::cancel()
{
    if (busy)
        fail(Error::Cancelled, QStringLiteral("cancelled"));
}

QFile *Downloader::file()
{
    return &finalFile;
}

Downloader::Error Downloader::error() const
{
    return last.error;
}

int Downloader::httpStatus() const
{
    return last.status;
}

bool Downloader::succeeded() const
{
    return last.complete;
}

QString Downloader::errorString() const
{
    return last.reason;
}

void Downloader::setHashing(bool on)
{
    hashing = on;
}

QByteArray Downloader::digest() const
{
    return last.complete ? transfer->digest : QByteArray();
}

FileIdentity Downloader::identity() const
{
    return last.complete ? transfer->identity : FileIdentity();
}

void Downloader::setTargetDirectory(const QString &path)
{
    targetDir.setPath(QDir(path).absolutePath());
}

void Downloader::headersArrived()
{
    last.status = transfer->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Nothing but the whole body will do: 206 is a part of it, a redirect is not followed, and
    // an error page is no package. None of them is written to disk.
    if (last.status != 200) {
        fail(Error::Refused, QStringLiteral("HTTP status %1").arg(last.status));
        return;
    }
    takeName();
    if (fileName.isEmpty())
        fail(Error::Refused, QStringLiteral("no usable file name"));
}

void Downloader::takeName()
{
    // Headers that come again while the partial file is written change nothing: the file keeps
    // its name to the end.
    if (transfer->part.isOpen())
        return;
    // The update lock lives in this folder: its name is taken.
    QString name = DispositionName::fromHeader(transfer->reply->rawHeader("Content-Disposition"));
    if (name.isEmpty() || UpdateLock::isLockFileName(name))
        name = DispositionName::usable(url.fileName(QUrl::FullyDecoded));
    if (UpdateLock::isLockFileName(name))
        name.clear();
    // With no usable name at all the earlier one stays.
    if (!name.isEmpty())
        fileName = name;
}

// Writes what the reply holds to the partial file and hands it to the hasher. While the hasher
// is behind, the bytes stay in the reply, whose full buffer makes TCP slow the server down.
void Downloader::saveArrived(bool evenIfBacklogged)
{
    Transfer &t = *transfer;
    // Nothing more of an answer already refused reaches the disk.
    if (t.failed() || t.watch->gaveUp())
        return;
    while (t.reply->bytesAvailable() > 0) {
        if (!evenIfBacklogged && t.hasher && t.unhashed > NetworkLimits::hashBacklogBytes)
            return;
        if (!t.part.isOpen() && !openPart())
            return;
        const QByteArray data = t.reply->read(readPiece);
        if (!writeAll(data))
            return;
        t.written += data.size();
        t.hash(data);
    }
}

bool Downloader::openPart()
{
    // Unbuffered: the reads are large, and what arrived is on disk.
    transfer->part.setFileName(partPath());
    if (transfer->part.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    failToWrite();
    return false;
}

bool Downloader::writeAll(const QByteArray &data)
{
    // In slices, and a short write is tried again: only the next one tells why (a full disk).
    for (qint64 done = 0; done < data.size();) {
        const qint64 n = transfer->part.write(data.constData() + done,
                                              qMin(data.size() - done, writeSlice));
        if (n <= 0) {
            failToWrite();
            return false;
        }
        done += n;
    }
    return true;
}

// Says "disk full" in so many words where it is so: Qt tells it apart on POSIX, and on Windows
// the volume's free space tells it.
void Downloader::failToWrite()
{
    const QStorageInfo volume(targetDir.path());
    const bool full = transfer->part.error() == QFileDevice::ResourceError
            || (volume.isValid() && volume.bytesAvailable() >= 0
                && volume.bytesAvailable() < writeSlice);
    fail(full ? Error::DiskFull : Error::WriteFailed,
         QStringLiteral("%1cannot write %2.part: %3")
                 .arg(full ? QStringLiteral("disk full: ") : QString(), fileName,
                      transfer->part.errorString()));
}

void Downloader::replyFinished()
{
    Transfer &t = *transfer;
    saveArrived(true);
    if (last.status == 0)
        last.status = t.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    t.takeWatchVerdict();
    if (t.written == 0)
        fail(Error::Refused, QStringLiteral("empty body"));
    const FileIdentity writtenTo = FileIdentity::of(t.part);
    t.part.close();
    // The file as the handle that wrote it knew it, with the times as they stand once closed
    // (a file system may stamp the last write at closing): the name must still lead to that
    // very file.
    if (!t.failed()) {
        t.identity = FileIdentity::of(partPath());
        if (!t.identity.isSameFile(writtenTo))
            fail(Error::WriteFailed,
                 QStringLiteral("the download was replaced while it was written"));
    }
    t.reply->deleteLater();
    t.reply = nullptr;
    t.watch = nullptr;
    if (t.hasher && !t.failed()) {
        QMetaObject::invokeMethod(t.hasher, &HashWorker::finish, Qt::QueuedConnection);
        return; // end() follows with the digest
    }
    end();
}

void Downloader::end()
{
    Transfer &t = *transfer;
    t.stopHasher();
    const QString finalPath = targetDir.filePath(fileName);
    if (!t.failed()) {
        retire(finalPath);
        if (!QFile::rename(partPath(), finalPath))
            fail(Error::WriteFailed, QStringLiteral("cannot name the download ") + fileName);
    }
    // A full disk must not stay full, and nothing half-made may look like a package. Without the
    // lock nothing was written, and a ".part" of that name is another updater's.
    if (t.failed() && lock && !fileName.isEmpty())
        QFile::remove(partPath());
    last.error = t.kind;
    last.reason = t.reason;
    last.complete = !t.failed();
    finalFile.setFileName(finalPath);
    lock.reset();
    busy = false;
    emit doFinished();
}

void Downloader::fail(Error kind, const QString &why)
{
    transfer->fail(kind, why);
    // Aborted from the event loop, not inside the reply's own signal: Qt does not expect a
    // reply to end while it reports its headers. Until then nothing more is read.
    QNetworkReply *const reply = transfer->reply;
    if (reply && !reply->isFinished())
        QMetaObject::invokeMethod(
                this,
                [this, reply] {
                    if (reply == transfer->reply && !reply->isFinished())
                        reply->abort();
                },
                Qt::QueuedConnection);
}

void Downloader::failLater(Error kind, const QString &why, QNetworkReply::NetworkError code)
{
    transfer->fail(kind, why);
    QMetaObject::invokeMethod(
            this,
            [this, code] {
                if (code != QNetworkReply::NoError)
                    emit onError(code);
                end();
            },
            Qt::QueuedConnection);
}

void Downloader::startHasher()
{
    transfer->startHasher();
    // Queued calls can outlive their worker, so each checks that it is still the current one.
    const QPointer<HashWorker> worker(transfer->hasher);
    connect(worker, &HashWorker::hashed, this, [this, worker](qint64 bytes) {
        if (!worker || worker != transfer->hasher)
            return;
        transfer->unhashed -= bytes;
        if (transfer->reply && !transfer->failed()
            && transfer->unhashed <= NetworkLimits::hashBacklogBytes)
            saveArrived(false);
    });
    connect(worker, &HashWorker::done, this, [this, worker](const QByteArray &digest) {
        if (!worker || worker != transfer->hasher)
            return;
        transfer->digest = digest;
        if (digest.isEmpty())
            fail(Error::WriteFailed, QStringLiteral("cannot hash the download"));
        end();
    });
}

QString Downloader::partPath() const
{
    return targetDir.filePath(fileName + QLatin1String(".part"));
}
