#ifndef TRANSFERWATCH_H
#define TRANSFERWATCH_H

#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QNetworkReply;
class QUrl;

// Watches one reply against a server that would hang, drip, flood or compress: it aborts the
// reply when no byte arrives for NetworkLimits::stallTimeoutMs, when fewer than
// NetworkLimits::dripMinBytes arrive in any NetworkLimits::dripWindowMs, when the body is
// larger than an optional cap (told by Content-Length up front or by the bytes received), or
// when the answer comes with a Content-Encoding other than identity. It lives as the reply's
// child; reason() says why it gave up, and is empty while it has not. Read it when the reply
// finishes: a non-empty reason is a failure even when the reply itself reports none (a body over
// the cap that arrived whole in one read).
//
//     QNetworkReply *reply = manager->get(TransferWatch::request(url));
//     auto *watch = new TransferWatch(reply, NetworkLimits::manifestMaxBytes);
//     connect(reply, &QNetworkReply::finished, this, [reply, watch] {
//         const QString why = watch->reason(); // e.g. "larger than 1 MiB"
//         ...
//     });
class TransferWatch : public QObject
{
    Q_OBJECT

public:
    // maxBytes < 0: no cap on the body.
    explicit TransferWatch(QNetworkReply *reply, qint64 maxBytes = -1);

    // Why the reply was aborted ("no data for 30 s", "too slow: ...", "larger than 1 MiB"...);
    // empty while it was not.
    QString reason() const;
    // Why a finished reply is no usable answer, or an empty string: the reason of its watch (a
    // time-out or a cap aborts the reply), then a body shorter than its Content-Length, then the
    // network's error, then any status but 200 OK.
    static QString failure(QNetworkReply *reply);

    // The request for every transfer of the program: no compression (so nothing is ever
    // inflated in memory) and no redirection followed.
    static QNetworkRequest request(const QUrl &url);
    // Whether url is an address the program may fetch at all: http or https with a host.
    static bool isWebAddress(const QUrl &url);
    // "64 KiB", "1 MiB", "1000 bytes": sizes in the reasons of this class and its users.
    static QString sizeText(qint64 bytes);

private:
    void headersArrived();
    void bytesArrived(qint64 received);
    void checkPace();
    void giveUp(const QString &why);

    QNetworkReply *reply;
    qint64 maxBytes;
    qint64 received = 0;
    QTimer stall;
    QTimer pace;
    QElapsedTimer clock;
    // (milliseconds since the start, bytes received by then), oldest first, reaching back
    // just over one drip window.
    std::deque<std::pair<qint64, qint64>> samples;
    QString why;
};

#endif // TRANSFERWATCH_H
