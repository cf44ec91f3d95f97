#ifndef FOLLOWEDGET_H
#define FOLLOWEDGET_H

#include "download/networkfailure.h"
#include "download/redirectchain.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkReply;
class TransferWatch;

// A small body read into memory whole (a package's signature), fetched through Network::get
// under a TransferWatch of maxBytes, following redirects as RedirectChain allows. Starts on
// construction; finished() follows once, from the event loop.
class FollowedGet : public QObject
{
    Q_OBJECT

public:
    FollowedGet(const QUrl &url, qint64 maxBytes, QObject *parent);

    // After finished(): the body when errorString() is empty, else why not, also as values.
    QByteArray body() const { return bytes; }
    QString errorString() const { return why; }
    NetworkFailure failure() const { return values; }

signals:
    void finished();

private:
    void send();
    void headersArrived();
    void replyFinished();

    RedirectChain chain;
    qint64 maxBytes;
    QNetworkReply *reply = nullptr;
    TransferWatch *watch = nullptr;
    bool judged = false;
    bool following = false;
    QByteArray bytes;
    QString why;
    NetworkFailure values;
};

#endif // FOLLOWEDGET_H
