#include "download/followedget.h"

#include "download/network.h"
#include "download/transferwatch.h"

#include <QNetworkReply>

FollowedGet::FollowedGet(const QUrl &url, qint64 maxBytes, QObject *parent)
    : QObject(parent)
    , chain(url)
    , maxBytes(maxBytes)
{
    send();
}

void FollowedGet::send()
{
    reply = Network::get(QNetworkRequest(chain.current()), this);
    watch = new TransferWatch(reply, maxBytes);
    judged = false;
    following = false;
    QNetworkReply *const asked = reply;
    connect(asked, &QNetworkReply::metaDataChanged, this, [this, asked] {
        if (asked == reply && !judged)
            headersArrived();
    });
    connect(asked, &QNetworkReply::finished, this, [this, asked] {
        if (asked == reply)
            replyFinished();
    });
}

void FollowedGet::headersArrived()
{
    judged = true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const RedirectChain::Step step = chain.judge(status, reply->rawHeader("Location"));
    if (step == RedirectChain::Step::Final)
        return;
    following = step == RedirectChain::Step::Follow;
    if (!following) {
        why = chain.errorString();
        values = chain.failure();
    }
    // A hop's body is nobody's: from the event loop, as Qt wants no abort inside this signal.
    QNetworkReply *const asked = reply;
    QMetaObject::invokeMethod(
            asked,
            [asked] {
                if (!asked->isFinished())
                    asked->abort();
            },
            Qt::QueuedConnection);
}

void FollowedGet::replyFinished()
{
    reply->deleteLater();
    if (following)
        return send();
    if (why.isEmpty()) {
        why = watch->errorString();
        values = watch->failure();
    }
    if (why.isEmpty())
        bytes = reply->readAll();
    reply = nullptr;
    watch = nullptr;
    emit finished();
}
