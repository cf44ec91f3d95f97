#include "download/downloader.h"

#include "download/dispositionname.h"
#include "download/hashworker.h"
#include "download/networklimits.h"
#include "download/transferwatch.h"
#include "platform/updatelock.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QStorageInfo>
#include <QThread>

namespace {

Downloader::Error kindOf(TransferWatch::Error error)
{
    switch (error) {
    case TransferWatch::Error::NoError:
        break;
    case TransferWatch::Error::Network:
        return Downloader::Error::Network;
    case TransferWatch::Error::Refused:
        return Downloader::Error::Refused;
    case TransferWatch::Error::Timeout:
        return Downloader::Error::Timeout;
    }
    return Downloader::Error::NoError;
}

// The largest single write. Writes of up to the 2 MiB read buffer at once made every other 1 GiB
// download here several times slower in the kernel (page-cache copies); 256 KiB slices kept all
// of them faster than curl.
constexpr qint64 writeSlice = 256 * 1024;
// What is taken from the reply at a time. Several pieces fit in the hash backlog, so the GUI
// thread reads and writes the next while the hasher works on the last; with whole read buffers
// (several MiB at once) the two took turns instead.
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
    , reply(nullptr)
    , watch(nullptr)
    , busy(false)
    , fileName(QLatin1String(""))
    , targetDir(UpdateLock::folderOf(QCoreApplication::applicationDirPath()))
    , lastError(Error::NoError)
    , lastStatus(0)
    , complete(false)
    , written(0)
    , hashing(false)
    , hashThread(nullptr)
    , hasher(nullptr)
    , unhashed(0)
{ }

Downloader::~Downloader()
{
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
    }
    stopHasher();
    if (lock) {
        outFile.close();
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
    lastError = Error::NoError;
    lastStatus = 0;
    complete = false;
    reason.clear();
    written = 0;
    hashDigest.clear();
    finalIdentity = FileIdentity();

    // A file:// address would copy any local program in as the package, and other schemes
    // mean nothing for a package.
    if (!NetworkLimits::isWebAddress(this->url)) {
        failLater(Error::Refused, QStringLiteral("not an http or https address"),
                  QNetworkReply::ProtocolUnknownError);
        return;
    }
    // Nothing in the folder is looked at before the lock is ours: the ".part" files there may be
    // another updater's. Taking the lock creates the folder.
    auto folderLock = std::make_unique<UpdateLock>(targetDir.path());
    if (!folderLock->tryLock()) {
        const bool held = folderLock->error() == UpdateLock::Error::HeldElsewhere;
        failLater(held ? Error::Busy : Error::WriteFailed,
                  held ? QStringLiteral("another update is running") : folderLock->errorString(),
                  QNetworkReply::NoError);
        return;
    }
    lock = std::move(folderLock);
    removeLeftovers(targetDir);
    retire(targetDir.filePath(fileName));
    if (hashing)
        startHasher();

    reply = manager->get(NetworkLimits::request(this->url));
    reply->setReadBufferSize(NetworkLimits::readBufferBytes);
    // The watch first, so that it has judged the headers before the handlers below see them.
    watch = new TransferWatch(reply);
    // Every handler checks that its reply is still the current one: a handler of doFinished may
    // have started the next transfer while the old reply still emits.
    QNetworkReply *const current = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, current] {
        if (current == reply)
            headersArrived();
    });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64 total) { emit doProgress(received, total); });
    // Reading as bytes arrive is what lets the bounded read buffer refill.
    connect(reply, &QIODevice::readyRead, this, [this, current] {
        if (current == reply)
            saveArrived(false);
    });
    connect(reply, &QNetworkReply::finished, this, [this, current] {
        if (current == reply)
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
    return &outFile;
}

Downloader::Error Downloader::error() const
{
    return lastError;
}

int Downloader::httpStatus() const
{
    return lastStatus;
}

bool Downloader::succeeded() const
{
    return complete;
}

QString Downloader::errorString() const
{
    return reason;
}

void Downloader::setHashing(bool on)
{
    hashing = on;
}

QByteArray Downloader::digest() const
{
    return hashDigest;
}

FileIdentity Downloader::identity() const
{
    return finalIdentity;
}

void Downloader::setTargetDirectory(const QString &path)
{
    targetDir.setPath(QDir(path).absolutePath());
}

void Downloader::headersArrived()
{
    lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Nothing but the whole body will do: 206 is a part of it, a redirect is not followed, and
    // an error page is no package. None of them is written to disk.
    if (lastStatus != 200) {
        fail(Error::Refused, QStringLiteral("HTTP status %1").arg(lastStatus));
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
    if (outFile.isOpen())
        return;
    // The update lock lives in this folder: its name is taken.
    QString name = DispositionName::fromHeader(reply->rawHeader("Content-Disposition"));
    if (name.isEmpty() || UpdateLock::isLockFileName(name))
        name = DispositionName::usable(url.fileName(QUrl::FullyDecoded));
    if (UpdateLock::isLockFileName(name))
        name.clear();
    // With no usable name at all the earlier one stays.
    if (!name.isEmpty())
        fileName = name;
    outFile.setFileName(targetDir.filePath(fileName));
}

// Writes what the reply holds to the partial file and hands it to the hasher. While the hasher
// is behind, the bytes stay in the reply, whose full buffer makes TCP slow the server down.
void Downloader::saveArrived(bool evenIfBacklogged)
{
    // Nothing more of an answer already refused reaches the disk.
    if (!reason.isEmpty() || watch->gaveUp())
        return;
    while (reply->bytesAvailable() > 0) {
        if (!evenIfBacklogged && hasher && unhashed > NetworkLimits::hashBacklogBytes)
            return;
        if (!outFile.isOpen()) {
            // Unbuffered: the reads are large, and what arrived is on disk.
            outFile.setFileName(partPath());
            if (!outFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
                failToWrite();
                return;
            }
        }
        const QByteArray data = reply->read(readPiece);
        // In slices, and a short write is tried again: only the next one tells why (a full
        // disk, say).
        for (qint64 done = 0; done < data.size();) {
            const qint64 n
                    = outFile.write(data.constData() + done, qMin(data.size() - done, writeSlice));
            if (n <= 0) {
                failToWrite();
                return;
            }
            done += n;
        }
        written += data.size();
        if (hasher) {
            unhashed += data.size();
            // The same shared bytes, no copy: the worker only reads them.
            QMetaObject::invokeMethod(
                    hasher, [worker = hasher, data] { worker->add(data); }, Qt::QueuedConnection);
        }
    }
}

// Says "disk full" in so many words where it is so: Qt tells it apart on POSIX, and on Windows
// the volume's free space tells it.
void Downloader::failToWrite()
{
    const QStorageInfo volume(targetDir.path());
    const bool full = outFile.error() == QFileDevice::ResourceError
            || (volume.isValid() && volume.bytesAvailable() >= 0
                && volume.bytesAvailable() < writeSlice);
    fail(full ? Error::DiskFull : Error::WriteFailed,
         QStringLiteral("%1cannot write %2.part: %3")
                 .arg(full ? QStringLiteral("disk full: ") : QString(), fileName,
                      outFile.errorString()));
}

void Downloader::replyFinished()
{
    saveArrived(true);
    if (lastStatus == 0)
        lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (watch->error() != TransferWatch::Error::NoError)
        fail(kindOf(watch->error()), watch->errorString());
    if (written == 0)
        fail(Error::Refused, QStringLiteral("empty body"));
    const FileIdentity writtenTo = FileIdentity::of(outFile);
    outFile.close();
    // The file as the handle that wrote it knew it, with the times as they stand once closed
    // (a file system may stamp the last write at closing): the name must still lead to that
    // very file.
    if (reason.isEmpty()) {
        finalIdentity = FileIdentity::of(partPath());
        if (!finalIdentity.isSameFile(writtenTo))
            fail(Error::WriteFailed,
                 QStringLiteral("the download was replaced while it was written"));
    }
    reply->deleteLater();
    reply = nullptr;
    watch = nullptr;

    if (hasher && reason.isEmpty()) {
        QMetaObject::invokeMethod(hasher, &HashWorker::finish, Qt::QueuedConnection);
        return; // end() follows with the digest
    }
    end();
}

void Downloader::end()
{
    stopHasher();
    const QString finalPath = targetDir.filePath(fileName);
    if (reason.isEmpty()) {
        retire(finalPath);
        if (!QFile::rename(partPath(), finalPath))
            fail(Error::WriteFailed, QStringLiteral("cannot name the download ") + fileName);
    }
    complete = reason.isEmpty();
    if (!complete) {
        // A full disk must not stay full, and nothing half-made may look like a package. Without
        // the lock nothing was written, and a ".part" of that name is another updater's.
        if (lock && !fileName.isEmpty())
            QFile::remove(partPath());
        hashDigest.clear();
        finalIdentity = FileIdentity();
    }
    outFile.setFileName(finalPath);

    lock.reset();
    busy = false;
    emit doFinished();
}

void Downloader::fail(Error kind, const QString &why)
{
    // The first cause found is the one told.
    if (reason.isEmpty()) {
        lastError = kind;
        reason = why;
    }
    // Aborted from the event loop, not inside the reply's own signal: Qt does not expect a
    // reply to end while it reports its headers. Until then nothing more is read.
    if (reply && !reply->isFinished())
        QMetaObject::invokeMethod(
                this,
                [this, current = reply] {
                    if (current == reply && !current->isFinished())
                        current->abort();
                },
                Qt::QueuedConnection);
}

void Downloader::failLater(Error kind, const QString &why, QNetworkReply::NetworkError code)
{
    lastError = kind;
    reason = why;
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
    hashThread = new QThread(this);
    hasher = new HashWorker;
    hasher->moveToThread(hashThread);
    // Queued calls can outlive their worker, so each checks that it is still the current one.
    const QPointer<HashWorker> worker(hasher);
    connect(hasher, &HashWorker::hashed, this, [this, worker](qint64 bytes) {
        if (!worker || worker != hasher)
            return;
        unhashed -= bytes;
        if (reply && reason.isEmpty() && unhashed <= NetworkLimits::hashBacklogBytes)
            saveArrived(false);
    });
    connect(hasher, &HashWorker::done, this, [this, worker](const QByteArray &digest) {
        if (!worker || worker != hasher)
            return;
        hashDigest = digest;
        if (digest.isEmpty())
            fail(Error::WriteFailed, QStringLiteral("cannot hash the download"));
        end();
    });
    hashThread->start();
}

void Downloader::stopHasher()
{
    if (!hashThread)
        return;
    disconnect(hasher, nullptr, this, nullptr);
    hashThread->quit();
    hashThread->wait();
    delete hasher;
    delete hashThread;
    hasher = nullptr;
    hashThread = nullptr;
    unhashed = 0;
}

QString Downloader::partPath() const
{
    return targetDir.filePath(fileName + QLatin1String(".part"));
}
