#include "download/downloader.h"

#include "download/hashworker.h"
#include "download/network.h"
#include "download/networklimits.h"
#include "download/partialrecord.h"
#include "download/resumepolicy.h"
#include "download/transfer.h"
#include "download/transferwatch.h"
#include "platform/updatelock.h"

#include <QCoreApplication>
#include <QNetworkRequest>
#include <QPointer>

namespace {

// What is taken from the reply at a time: small enough that several pieces fit in the hash
// backlog, so the GUI thread reads and writes the next while the hasher works on the last.
constexpr qint64 readPiece = 512 * 1024;

using Cause = NetworkFailure::Cause;

} // namespace

Downloader::Downloader(QObject *parent)
    : QObject(parent)
    , targetDir(UpdateLock::folderOf(QCoreApplication::applicationDirPath()))
{
    // A transfer that failed during the wait (cancel()) ends instead.
    pause.setSingleShot(true);
    connect(&pause, &QTimer::timeout, this, [this] {
        if (transfer->failed())
            end();
        else
            startReply();
    });
}

Downloader::~Downloader()
{
    if (!transfer)
        return;
    if (transfer->reply) {
        disconnect(transfer->reply, nullptr, this, nullptr);
        transfer->reply->abort();
    }
    transfer->stopHasher();
    if (lock)
        transfer->leave(url, fileName, last.status);
}

void Downloader::download(const QString &url)
{
    if (busy)
        return;
    this->url.setUrl(url, QUrl::TolerantMode);
    busy = true;
    last = Result();
    transfer = std::make_unique<Transfer>();
    // An empty address is none, never the last one again: that one's file is another fetch's. A
    // file:// address would copy any local program in as the package, and other schemes mean
    // nothing for a package.
    const QString refusal = Network::refusal(this->url);
    if (!refusal.isEmpty()) {
        const auto code = QNetworkReply::ProtocolUnknownError;
        failLater(Error::Refused, refusal, code, Cause::NotWebAddress);
        return;
    }
    if (!lockFolder())
        return;
    if (hashing)
        startHasher();
    // Bytes kept from an earlier download are hashed first, before those that follow them.
    transfer->hashFile(partName());
    startReply();
}

// Nothing in the folder is looked at before the lock is ours: the ".part" files there may be
// another updater's. Partial files of earlier runs would otherwise keep their space for good: but
// the one recorded for this address, all go.
bool Downloader::lockFolder()
{
    Transfer &t = *transfer;
    auto folderLock = roadLock ? nullptr : std::make_unique<UpdateLock>(targetDir.path());
    UpdateLock *const taken = roadLock ? roadLock : folderLock.get();
    if (!t.openFolder(targetDir.path(), taken)) {
        failLater(t.kind, t.reason, QNetworkReply::NoError);
        return false;
    }
    ownLock = std::move(folderLock);
    lock = taken;
    t.retire(fileName);
    const PartialRecord kept = PartialRecord::take(t.folder, url, &t.part);
    if (kept.isValid()) {
        fileName = kept.name;
        t.written = kept.saved;
        t.policy.resume(kept.validator, kept.complete, kept.saved);
    }
    t.measureRoom();
    return true;
}

// Every request starts at the address asked for: one the server redirected to may have expired
// since (signed storage addresses do), and the saved name and record belong to the first.
void Downloader::startReply()
{
    transfer->chain = RedirectChain(url);
    sendHop();
}

// Each hop is asked as the first, with the same range and limits.
void Downloader::sendHop()
{
    Transfer &t = *transfer;
    QNetworkRequest request(t.chain.current());
    t.policy.prepare(request);
    QNetworkReply *const reply = Network::get(request, this);
    reply->setReadBufferSize(NetworkLimits::readBufferBytes);
    t.reply = reply;
    t.answered = false;
    t.accepted = false;
    t.hopping = false;
    // The watch first, so that it has judged the headers before the handlers below see them.
    t.watch = new TransferWatch(reply);
    // Every handler checks that its reply is still the current one: a handler of doFinished may
    // have started the next transfer while the old reply still emits.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply == transfer->reply && !transfer->answered)
            headersArrived();
    });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply](qint64 received, qint64 total) {
                const qint64 base = transfer->base;
                if (reply == transfer->reply && transfer->accepted)
                    emit doProgress(base + received, total < 0 ? total : base + total);
            });
    // Reading as bytes arrive is what lets the bounded read buffer refill.
    connect(reply, &QIODevice::readyRead, this, [this, reply] {
        if (reply == transfer->reply)
            saveArrived(false);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == transfer->reply)
            replyFinished();
    });
}

void Downloader::cancel()
{
    if (!busy)
        return;
    fail(Error::Cancelled, QStringLiteral("cancelled"));
    // Between two requests no reply is there to abort: the wait ends now.
    if (pause.isActive())
        pause.start(0);
}

QByteArray Downloader::digest() const
{
    return last.complete ? transfer->digest : QByteArray();
}

FileIdentity Downloader::identity() const
{
    return last.complete ? transfer->identity : FileIdentity();
}

void Downloader::headersArrived()
{
    Transfer &t = *transfer;
    t.answered = true;
    last.status = t.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Only the file's own bytes are written: a redirect's body is dropped, an error page or a part
    // not asked for is no package, and an answer dropped for a retry is no part of it.
    switch (t.chain.judge(last.status, t.reply->rawHeader("Location"))) {
    case RedirectChain::Step::Follow:
        t.hopping = true;
        abortLater();
        return;
    case RedirectChain::Step::Refuse:
        t.fail(Error::Refused, t.chain.errorString(), t.chain.failure());
        abortLater();
        return;
    case RedirectChain::Step::Final:
        break;
    }
    switch (t.policy.judge(ResumePolicy::Answer::of(*t.reply))) {
    case ResumePolicy::Step::Stop:
        fail(Error::Refused, t.policy.errorString(), Cause::Status);
        return;
    case ResumePolicy::Step::Retry:
        abortLater();
        return;
    case ResumePolicy::Step::Write:
        if (t.written > 0)
            t.startAgain(partName());
        // Headers that come again while the partial file is written change nothing: the file
        // keeps its name to the end.
        if (!t.part.isOpen())
            t.chooseName(url, &fileName);
        break;
    case ResumePolicy::Step::Append:
        break;
    }
    t.accepted = true;
    t.base = t.written;
    if (fileName.isEmpty())
        fail(Error::Refused, QStringLiteral("no usable file name"), Cause::Malformed);
    // An announced length that cannot fit fails now, not after gigabytes.
    else if (t.policy.end() >= 0 && !t.fits(t.policy.end()))
        abortLater();
}

// Writes what the reply holds to the partial file and hands it to the hasher. While the hasher
// is behind, the bytes stay in the reply, whose full buffer makes TCP slow the server down.
void Downloader::saveArrived(bool evenIfBacklogged)
{
    Transfer &t = *transfer;
    // Nothing more of an answer already refused or dropped reaches the disk.
    if (t.failed() || !t.accepted || t.watch->gaveUp())
        return;
    while (t.reply->bytesAvailable() > 0) {
        if (!evenIfBacklogged && t.hasher && t.unhashed > NetworkLimits::hashBacklogBytes)
            return;
        const QByteArray data = t.reply->read(readPiece);
        // No part runs past its range, and no file past its complete length.
        if (t.policy.end() >= 0 && t.written + data.size() > t.policy.end()) {
            fail(Error::Refused, QStringLiteral("more bytes than the answer announced"),
                 Cause::Malformed);
            return;
        }
        // A body without a length stops at the bounds all the same.
        if (!t.fits(t.written + data.size()) || !t.save(partName(), data)) {
            abortLater();
            return;
        }
    }
}

void Downloader::replyFinished()
{
    Transfer &t = *transfer;
    if (t.hopping && !t.failed()) {
        t.reply->deleteLater();
        last.status = 0;
        return sendHop();
    }
    saveArrived(true);
    if (last.status == 0)
        last.status = t.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (askAgain())
        return;
    if (t.reply->error() != QNetworkReply::NoError)
        emit onError(t.reply->error());
    t.applyWatchVerdict();
    if (t.written == 0)
        fail(Error::Refused, QStringLiteral("empty body"), Cause::Empty);
    t.closePart();
    t.reply->deleteLater();
    t.reply = nullptr;
    t.watch = nullptr;
    if (t.hasher && !t.failed()) {
        QMetaObject::invokeMethod(t.hasher, &HashWorker::finish, Qt::QueuedConnection);
        return; // end() follows with the digest
    }
    end();
}

// Whether the answer just finished is followed by another request: it was dropped at its headers
// for one, or its body ended early for a network reason with bytes saved.
bool Downloader::askAgain()
{
    Transfer &t = *transfer;
    if (t.failed())
        return false;
    const Error verdict = t.verdict(nullptr);
    const bool lost = verdict == Error::Network || verdict == Error::Timeout;
    const bool dropped = t.answered && !t.accepted;
    if (!dropped && !(lost && t.policy.lost(t.written)))
        return false;
    t.reply->deleteLater();
    t.reply = nullptr;
    t.watch = nullptr;
    const ResumePolicy &policy = t.policy;
    emit doRetry(policy.cause(), policy.saved(), policy.delayMs(), policy.retries(),
                 NetworkLimits::retryCount);
    pause.start(policy.delayMs());
    return true;
}

void Downloader::end()
{
    Transfer &t = *transfer;
    t.stopHasher();
    t.part.close();
    if (!t.failed()) {
        t.retire(fileName);
        t.rename(partName(), fileName);
    }
    // A full disk must not stay full, and nothing half-made may look like a package. Without the
    // lock nothing was written, and a ".part" of that name is another updater's.
    if (t.failed() && lock && !fileName.isEmpty() && !t.keepPartial(url, fileName, last.status))
        t.folder.removeFile(partName());
    last.error = t.kind;
    last.reason = t.reason;
    last.failure = { t.kind, t.network, t.policy.retries(), t.needed, t.available };
    last.complete = !t.failed();
    finalFile.setFileName(targetDir.filePath(fileName));
    t.folder = NativeDir();
    ownLock.reset();
    lock = nullptr;
    busy = false;
    emit doFinished();
}

void Downloader::fail(Error kind, const QString &why, NetworkFailure::Cause cause)
{
    transfer->fail(kind, why, cause);
    abortLater();
}

void Downloader::abortLater()
{
    // From the event loop, not inside the reply's own signal: Qt does not expect a reply to end
    // while it reports its headers. Until then nothing more is read. The reply is the call's
    // context: one deleted meanwhile is never taken for a later reply at its address.
    QNetworkReply *const reply = transfer->reply;
    if (reply && !reply->isFinished())
        QMetaObject::invokeMethod(
                reply,
                [this, reply] {
                    if (reply == transfer->reply && !reply->isFinished())
                        reply->abort();
                },
                Qt::QueuedConnection);
}

void Downloader::failLater(Error kind, const QString &why, QNetworkReply::NetworkError code,
                           NetworkFailure::Cause cause)
{
    transfer->fail(kind, why, cause);
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

void Downloader::tidy()
{
    if (!busy && roadLock && roadLock->isLocked())
        Transfer::tidy(targetDir.path(), last.complete ? fileName : QString());
}

QString Downloader::partName() const
{
    return fileName + QLatin1String(".part");
}
