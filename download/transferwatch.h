#ifndef TRANSFERWATCH_H
#define TRANSFERWATCH_H

#include "download/networkfailure.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QNetworkReply;

// Watches one reply against a server that would hang, drip, flood or compress: it aborts the
// reply when no byte arrives for NetworkLimits::stallTimeoutMs, when fewer than
// NetworkLimits::dripMinBytes arrive in any NetworkLimits::dripWindowMs, when the body is
// larger than an optional cap (told by Content-Length up front or by the bytes received), or
// when the answer comes with a Content-Encoding other than identity. It lives as the reply's
// child; its owner keeps the pointer. Once the reply has finished, error() judges the whole
// answer: a watch that gave up is a failure even when the reply itself reports none (a body over
// the cap that arrived whole in one read).
//
//     QNetworkReply *reply = Network::get(QNetworkRequest(url), this);
//     auto *watch = new TransferWatch(reply, NetworkLimits::manifestMaxBytes);
//     connect(reply, &QNetworkReply::finished, this, [reply, watch] {
//         if (watch->error() != TransferWatch::Error::NoError)
//             qWarning() << watch->errorString(); // e.g. "larger than 1 MiB"
//         ...
//     });
class TransferWatch : public QObject
{
    Q_OBJECT

public:
    enum class Error {
        NoError,
        Network, // the connection failed, or the body ended before its Content-Length
        Refused, // a status but 200 (or 206 to a Range), a compressed answer, a body over the cap
        Timeout, // no data for the stall time-out, or less than the drip floor
    };
    Q_ENUM(Error)

    // maxBytes < 0: no cap on the body.
    explicit TransferWatch(QNetworkReply *reply, qint64 maxBytes = -1);

    // Whether the watch has aborted the reply; nothing more of it should be used.
    bool gaveUp() const;
    // For a finished reply, why it is no usable answer: the watch's own reason first, then a
    // body shorter than its Content-Length, then the network's error, then any status but
    // 200 OK (or 206 to a request with a Range). errorString() says it in a short line ("no data
    // for 30 s", "HTTP status 404", "connection closed after 10 of 20 bytes"...), empty for a
    // usable answer.
    Error error() const;
    QString errorString() const;
    // The same judgement as values, for a line that tells the user why.
    NetworkFailure failure() const;

private:
    void headersArrived();
    void bytesArrived(qint64 received);
    void checkPace();
    void giveUp(Error kind, NetworkFailure::Cause cause, qint64 limit, const QString &why);
    // error(), errorString() and failure() in one: the kind, the short line into line, the
    // values into failure.
    Error judge(QString &line, NetworkFailure *failure = nullptr) const;

    QNetworkReply *reply;
    qint64 maxBytes;
    qint64 received = 0;
    QTimer stall;
    QTimer pace;
    QElapsedTimer clock;
    // (milliseconds since the start, bytes received by then), oldest first, reaching back
    // just over one drip window.
    std::deque<std::pair<qint64, qint64>> samples;
    Error whyKind = Error::NoError;
    NetworkFailure whyValues;
    QString why;
};

#endif // TRANSFERWATCH_H
