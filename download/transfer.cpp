#include "download/transfer.h"

#include "download/dispositionname.h"
#include "download/hashworker.h"
#include "download/networklimits.h"
#include "download/partialrecord.h"
#include "download/transferwatch.h"
#include "platform/updatelock.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QThread>

#include <memory>

namespace {

// The largest single write: larger writes at once send the page cache into slow copies (see
// docs/benchmarks.md).
constexpr qint64 writeSlice = 256 * 1024;

Download::Error kindOf(TransferWatch::Error error)
{
    switch (error) {
    case TransferWatch::Error::NoError:
        break;
    case TransferWatch::Error::Network:
        return Download::Error::Network;
    case TransferWatch::Error::Refused:
        return Download::Error::Refused;
    case TransferWatch::Error::Timeout:
        return Download::Error::Timeout;
    }
    return Download::Error::NoError;
}

} // namespace

Transfer::~Transfer()
{
    stopHasher();
}

void Transfer::fail(Download::Error error, const QString &why, const NetworkFailure &values)
{
    if (failed())
        return;
    kind = error;
    reason = why;
    network = values;
}

void Transfer::fail(Download::Error error, const QString &why, NetworkFailure::Cause cause)
{
    NetworkFailure values;
    if (reply)
        values = NetworkFailure::of(*reply);
    values.cause = cause;
    fail(error, why, values);
}

Download::Error Transfer::verdict(QString *why) const
{
    const Download::Error kind = kindOf(watch->error());
    // A part may end before the file does, and one without a length of its own ends with its
    // connection: only the complete length tells.
    const qint64 complete = policy.completeLength();
    if (kind == Download::Error::NoError && complete >= 0 && written < complete) {
        if (why)
            *why = QStringLiteral("the file ended after %1 of %2 bytes").arg(written).arg(complete);
        return Download::Error::Network;
    }
    if (why)
        *why = watch->errorString();
    return kind;
}

void Transfer::applyWatchVerdict()
{
    QString why;
    const Download::Error kind = verdict(&why);
    NetworkFailure values = watch->failure();
    // The watch found nothing wrong: the file is short of its complete length.
    if (values.cause == NetworkFailure::Cause::None)
        values.cause = NetworkFailure::Cause::Lost;
    if (kind != Download::Error::NoError)
        fail(kind, why, values);
}

// The application folder is trusted, links on its way too: they are the installation's. The
// download folder is not: a link in its place is refused before the lock is made in it, and
// one swapped in later is not entered.
bool Transfer::openFolder(const QString &path, UpdateLock *lock)
{
    const QFileInfo where(path);
    const QString name = where.fileName();
    QDir().mkpath(where.absolutePath());
    const NativeDir parent = NativeDir::open(where.absolutePath());
    const NativeDir::Kind kind = parent.kindOf(name);
    if (kind == NativeDir::Kind::Link) {
        fail(Download::Error::WriteFailed,
             QStringLiteral("the download folder is a link: ") + path);
        return false;
    }
    if (kind == NativeDir::Kind::Missing)
        parent.makeFolder(name);
    if (!lock->isLocked() && !lock->tryLock()) {
        const bool held = lock->error() == UpdateLock::Error::HeldElsewhere;
        fail(held ? Download::Error::Busy : Download::Error::WriteFailed,
             held ? QStringLiteral("another update is running") : lock->errorString());
        return false;
    }
    folder = parent.openFolder(name);
    folderPath = path;
    if (!folder.isValid())
        fail(Download::Error::WriteFailed,
             QStringLiteral("cannot open the download folder ") + parent.errorString());
    return folder.isValid();
}

// A link there goes, unfollowed; a folder is left alone. Where that day's backup exists already,
// the earlier package goes altogether. One dated copy is kept: the older ones go.
void Transfer::retire(const QString &name)
{
    const NativeDir::Kind kind = name.isEmpty() ? NativeDir::Kind::Missing : folder.kindOf(name);
    const QString backup
            = name + QLatin1Char('_') + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    if (kind == NativeDir::Kind::File) {
        static const QRegularExpression dated(QStringLiteral("_\\d{4}-\\d\\d-\\d\\d$"));
        for (const QString &older : folder.entryNames()) {
            if (older != backup && dated.match(older).hasMatch()
                && folder.kindOf(older) == NativeDir::Kind::File)
                folder.removeFile(older);
        }
    }
    if (kind == NativeDir::Kind::Link
        || (kind == NativeDir::Kind::File && !folder.moveNew(name, folder, backup)))
        folder.removeFile(name);
}

void Transfer::measureRoom()
{
    const QStorageInfo volume(folderPath);
    const qint64 free = volume.isValid() ? volume.bytesAvailable() : -1;
    // The bytes kept from earlier already take their space.
    // Below zero on a volume with less than the reserve free: nothing fits.
    roomKnown = free >= 0;
    room = written + free - NetworkLimits::freeSpaceReserveBytes;
}

bool Transfer::fits(qint64 size)
{
    if (size > NetworkLimits::downloadMaxBytes) {
        NetworkFailure values;
        values.cause = NetworkFailure::Cause::TooLarge;
        values.limit = NetworkLimits::downloadMaxBytes;
        fail(Download::Error::Refused,
             QStringLiteral("the download is larger than %1")
                     .arg(NetworkLimits::sizeText(NetworkLimits::downloadMaxBytes)),
             values);
        return false;
    }
    if (roomKnown && size > room) {
        // What the rest of the file and the reserve need on the volume, against what it has.
        needed = size - written + NetworkLimits::freeSpaceReserveBytes;
        available = room - written + NetworkLimits::freeSpaceReserveBytes;
        fail(Download::Error::DiskFull,
             QStringLiteral("disk full: the download would leave less than %1 free")
                     .arg(NetworkLimits::sizeText(NetworkLimits::freeSpaceReserveBytes)));
        return false;
    }
    return true;
}

bool Transfer::save(const QString &name, const QByteArray &data)
{
    // Unbuffered: the reads are large, and what arrived is on disk. A new file only: anything
    // already there under the name, a link above all, is not ours to write into.
    const QIODevice::OpenMode created
            = QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered;
    if (!part.isOpen() && (written > 0 || !folder.openFile(name, created, &part)))
        return failToWrite(name, folder.errorString());
    // In slices, and a short write is tried again: only the next one tells why (a full disk).
    for (qint64 done = 0; done < data.size();) {
        const qint64 n = part.write(data.constData() + done, qMin(data.size() - done, writeSlice));
        if (n <= 0)
            return failToWrite(name, part.errorString());
        done += n;
    }
    written += data.size();
    hash(data);
    return true;
}

// Qt tells a full disk apart on POSIX; on Windows the volume's free space tells it.
bool Transfer::failToWrite(const QString &name, const QString &detail)
{
    const QStorageInfo volume(folderPath);
    const bool full = part.error() == QFileDevice::ResourceError
            || (volume.isValid() && volume.bytesAvailable() >= 0
                && volume.bytesAvailable() < writeSlice);
    fail(full ? Download::Error::DiskFull : Download::Error::WriteFailed,
         QStringLiteral("%1cannot write %2: %3")
                 .arg(full ? QStringLiteral("disk full: ") : QString(), name, detail));
    return false;
}

void Transfer::startAgain(const QString &name)
{
    part.close();
    folder.removeFile(name);
    written = 0;
    if (hasher)
        QMetaObject::invokeMethod(hasher, &HashWorker::reset, Qt::QueuedConnection);
}

void Transfer::closePart()
{
    // The times as they stand once closed may differ (a file system may stamp the last write at
    // closing); the file and its size do not.
    writtenTo = FileIdentity::of(part);
    part.close();
}

void Transfer::rename(const QString &partName, const QString &finalName)
{
    if (!folder.moveNew(partName, folder, finalName)) {
        fail(Download::Error::WriteFailed,
             QStringLiteral("cannot name the download %1: %2")
                     .arg(finalName, folder.errorString()));
        return;
    }
    // Whoever takes the package up goes by its path: it must lead to these bytes.
    identity = FileIdentity::of(QDir(folderPath).filePath(finalName));
    if (folder.kindOf(finalName) != NativeDir::Kind::File || !identity.isSameFile(writtenTo))
        fail(Download::Error::WriteFailed,
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

void Transfer::hashFile(const QString &name)
{
    if (!hasher || written <= 0)
        return;
    const qint64 size = written;
    unhashed += size;
    // Through a handle of its own, checked to be the partial file held: the bytes hashed are
    // those the download goes on from. A reader left closed makes the digest fail.
    auto reader = std::make_shared<QFile>();
    if (folder.openFile(name, QIODevice::ReadOnly, reader.get())
        && !FileIdentity::of(*reader).isSameFile(FileIdentity::of(part)))
        reader->close();
    QMetaObject::invokeMethod(
            hasher, [worker = hasher, reader, size] { worker->addFile(reader, size); },
            Qt::QueuedConnection);
}

void Transfer::chooseName(const QUrl &url, QString *name) const
{
    // The update lock and the partial record live in this folder: their names are taken.
    const auto taken = [](const QString &name) {
        return UpdateLock::isLockFileName(name) || PartialRecord::isRecordName(name);
    };
    QString chosen = DispositionName::fromHeader(reply->rawHeader("Content-Disposition"));
    if (chosen.isEmpty() || taken(chosen))
        chosen = DispositionName::usable(url.fileName(QUrl::FullyDecoded));
    if (!chosen.isEmpty() && !taken(chosen))
        *name = chosen;
}

void Transfer::leave(const QUrl &url, const QString &name, int status)
{
    fail(Download::Error::Cancelled, QStringLiteral("cancelled"));
    part.close();
    if (!name.isEmpty() && !keepPartial(url, name, status))
        folder.removeFile(name + QLatin1String(".part"));
}

void Transfer::tidy(const QString &path, const QString &keep)
{
    const QFileInfo where(path);
    const NativeDir parent = NativeDir::open(where.absolutePath());
    // A link in the folder's place is not entered, here as anywhere.
    if (parent.kindOf(where.fileName()) != NativeDir::Kind::Folder)
        return;
    const NativeDir folder = parent.openFolder(where.fileName());
    for (const QString &name : folder.entryNames()) {
        const NativeDir::Kind kind = folder.kindOf(name);
        if (name != keep && !UpdateLock::isLockFileName(name)
            && (kind == NativeDir::Kind::File || kind == NativeDir::Kind::Link))
            folder.removeFile(name);
    }
}

bool Transfer::keepPartial(const QUrl &url, const QString &name, int status) const
{
    const bool network = kind == Download::Error::Network || kind == Download::Error::Timeout
            || kind == Download::Error::Cancelled
            || (kind == Download::Error::Refused && ResumePolicy::isTransient(status));
    const PartialRecord record { url, name, policy.validator(), policy.completeLength(), written };
    return network && policy.canResume(written) && record.save(folder);
}
