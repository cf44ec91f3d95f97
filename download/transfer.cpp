#include "download/transfer.h"

#include "download/hashworker.h"
#include "download/transferwatch.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <QThread>

namespace {

// The largest single write: larger writes at once send the page cache into slow copies (see
// docs/benchmarks.md).
constexpr qint64 writeSlice = 256 * 1024;

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

} // namespace

Transfer::~Transfer()
{
    stopHasher();
}

void Transfer::fail(Downloader::Error error, const QString &why)
{
    if (failed())
        return;
    kind = error;
    reason = why;
}

Downloader::Error Transfer::verdict(QString *why) const
{
    const Downloader::Error kind = kindOf(watch->error());
    // A part may end before the file does, and one without a length of its own ends with its
    // connection: only the complete length tells.
    const qint64 complete = policy.completeLength();
    if (kind == Downloader::Error::NoError && complete >= 0 && written < complete) {
        if (why)
            *why = QStringLiteral("the file ended after %1 of %2 bytes").arg(written).arg(complete);
        return Downloader::Error::Network;
    }
    if (why)
        *why = watch->errorString();
    return kind;
}

void Transfer::takeWatchVerdict()
{
    QString why;
    const Downloader::Error kind = verdict(&why);
    if (kind != Downloader::Error::NoError)
        fail(kind, why);
}

bool Transfer::save(const QString &path, const QByteArray &data)
{
    if (!part.isOpen()) {
        part.setFileName(path);
        // Unbuffered: the reads are large, and what arrived is on disk.
        const QIODevice::OpenMode keep = written > 0 ? QIODevice::Append : QIODevice::Truncate;
        if (!part.open(QIODevice::WriteOnly | keep | QIODevice::Unbuffered))
            return failToWrite();
    }
    // In slices, and a short write is tried again: only the next one tells why (a full disk).
    for (qint64 done = 0; done < data.size();) {
        const qint64 n = part.write(data.constData() + done, qMin(data.size() - done, writeSlice));
        if (n <= 0)
            return failToWrite();
        done += n;
    }
    written += data.size();
    hash(data);
    return true;
}

// Qt tells a full disk apart on POSIX; on Windows the volume's free space tells it.
bool Transfer::failToWrite()
{
    const QFileInfo file(part.fileName());
    const QStorageInfo volume(file.absolutePath());
    const bool full = part.error() == QFileDevice::ResourceError
            || (volume.isValid() && volume.bytesAvailable() >= 0
                && volume.bytesAvailable() < writeSlice);
    fail(full ? Downloader::Error::DiskFull : Downloader::Error::WriteFailed,
         QStringLiteral("%1cannot write %2: %3")
                 .arg(full ? QStringLiteral("disk full: ") : QString(), file.fileName(),
                      part.errorString()));
    return false;
}

void Transfer::startAgain(const QString &path)
{
    part.close();
    QFile::remove(path);
    written = 0;
    if (hasher)
        QMetaObject::invokeMethod(hasher, &HashWorker::reset, Qt::QueuedConnection);
}

void Transfer::closePart(const QString &path)
{
    const FileIdentity writtenTo = FileIdentity::of(part);
    part.close();
    // The file as the handle that wrote it knew it, with the times as they stand once closed
    // (a file system may stamp the last write at closing): the name must still lead to that
    // very file.
    if (failed())
        return;
    identity = FileIdentity::of(path);
    if (!identity.isSameFile(writtenTo))
        fail(Downloader::Error::WriteFailed,
             QStringLiteral("the download was replaced while it was written"));
}

void Transfer::startHasher()
{
    hashThread = new QThread;
    hasher = new HashWorker;
    hasher->moveToThread(hashThread);
    hashThread->start();
}

void Transfer::stopHasher()
{
    if (!hashThread)
        return;
    QObject::disconnect(hasher, nullptr, nullptr, nullptr);
    hashThread->quit();
    hashThread->wait();
    delete hasher;
    delete hashThread;
    hasher = nullptr;
    hashThread = nullptr;
    unhashed = 0;
}

void Transfer::hash(const QByteArray &piece)
{
    if (!hasher)
        return;
    unhashed += piece.size();
    // The same shared bytes, no copy: the worker only reads them.
    QMetaObject::invokeMethod(
            hasher, [worker = hasher, piece] { worker->add(piece); }, Qt::QueuedConnection);
}

void Transfer::hashFile(const QString &path, qint64 size)
{
    if (!hasher || size <= 0)
        return;
    unhashed += size;
    QMetaObject::invokeMethod(
            hasher, [worker = hasher, path, size] { worker->addFile(path, size); },
            Qt::QueuedConnection);
}
