#include "download/transfer.h"

#include "download/hashworker.h"
#include "download/transferwatch.h"

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

void Transfer::takeWatchVerdict()
{
    const TransferWatch::Error verdict = watch->error();
    if (verdict != TransferWatch::Error::NoError)
        fail(kindOf(verdict), watch->errorString());
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
