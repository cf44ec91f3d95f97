#include "download/transferwatch.h"

#include "download/networklimits.h"
#include "download/redirectchain.h"

#include <QNetworkReply>

namespace {

// The drip window is checked this many times over, so a drip ends at most a tenth of a window
// late.
constexpr int paceChecksPerWindow = 10;

QString secondsText(int ms)
{
    return QString::number(ms / 1000.0) + QStringLiteral(" s");
}

// A header value from the server, made safe to show: printable ASCII, short.
QString shown(const QByteArray &value)
{
    QString text;
    for (const char c : value.left(40))
        text += c >= 0x20 && c < 0x7f ? QLatin1Char(c) : QLatin1Char('?');
    return text;
}

// An answer with a status but the one asked for; a redirect, where none is followed, names where
// it leads, so that a publisher sees the misconfiguration.
void statusFailure(const QNetworkReply &reply, NetworkFailure &values)
{
    const QUrl target = RedirectChain::target(reply);
    values.cause
            = target.isValid() ? NetworkFailure::Cause::Redirected : NetworkFailure::Cause::Status;
    values.address = target.isValid() ? RedirectChain::shown(target) : QString();
}

} // namespace

TransferWatch::TransferWatch(QNetworkReply *reply, qint64 maxBytes)
    : QObject(reply)
    , reply(reply)
    , maxBytes(maxBytes)
{
    // Coarse timers may fire 5 % early; a limit is a limit.
    stall.setTimerType(Qt::PreciseTimer);
    stall.setSingleShot(true);
    stall.setInterval(NetworkLimits::stallTimeoutMs);
    connect(&stall, &QTimer::timeout, this, [this] {
        giveUp(Error::Timeout, NetworkFailure::Cause::NoAnswer, NetworkLimits::stallTimeoutMs,
               QStringLiteral("no data for ") + secondsText(NetworkLimits::stallTimeoutMs));
    });
    pace.setInterval(qMax(1, NetworkLimits::dripWindowMs / paceChecksPerWindow));
    connect(&pace, &QTimer::timeout, this, &TransferWatch::checkPace);

    connect(reply, &QNetworkReply::metaDataChanged, this, &TransferWatch::headersArrived);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64) { bytesArrived(received); });
    connect(reply, &QNetworkReply::finished, this, [this] {
        stall.stop();
        pace.stop();
    });
    if (reply->isFinished())
        return;
    clock.start();
    samples.emplace_back(0, 0);
    stall.start();
    pace.start();
}

bool TransferWatch::gaveUp() const
{
    return whyKind != Error::NoError;
}

TransferWatch::Error TransferWatch::error() const
{
    QString line;
    return judge(line);
}

QString TransferWatch::errorString() const
{
    QString line;
    judge(line);
    return line;
}

NetworkFailure TransferWatch::failure() const
{
    QString line;
    NetworkFailure values;
    judge(line, &values);
    return values;
}

TransferWatch::Error TransferWatch::judge(QString &line, NetworkFailure *failure) const
{
    NetworkFailure ignored;
    NetworkFailure &values = failure ? *failure : ignored;
    values = NetworkFailure::of(*reply);
    if (gaveUp()) {
        line = why;
        values.cause = whyValues.cause;
        values.limit = whyValues.limit;
        return whyKind;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A part of the body is an answer only to a request for one.
    const bool usable = status == 200 || (status == 206 && reply->request().hasRawHeader("Range"));
    // Whether Qt reports an error for a body cut short depends on how the last bytes and the
    // close arrive: sometimes it reports none.
    bool known = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (usable && known && received != length) {
        line = QStringLiteral("connection closed after %1 of %2 bytes").arg(received).arg(length);
        values.cause = NetworkFailure::Cause::Lost;
        return Error::Network;
    }
    if (reply->error() != QNetworkReply::NoError) {
        line = reply->errorString();
        // An answer with a status of its own, an address of no scheme we fetch, or a server that
        // cannot prove who it is, is refused: asking again would not change it. Anything else
        // never arrived whole.
        const bool refused = (status != 0 && !usable)
                || reply->error() == QNetworkReply::ProtocolUnknownError
                || reply->error() == QNetworkReply::SslHandshakeFailedError;
        if (status != 0 && !usable)
            statusFailure(*reply, values);
        return refused ? Error::Refused : Error::Network;
    }
    if (!usable) {
        line = QStringLiteral("HTTP status %1").arg(status);
        statusFailure(*reply, values);
        return Error::Refused;
    }
    values.cause = NetworkFailure::Cause::None;
    return Error::NoError;
}

void TransferWatch::headersArrived()
{
    stall.start();
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        giveUp(Error::Refused, NetworkFailure::Cause::Compressed, 0,
               QStringLiteral("compressed answer refused (Content-Encoding: %1)")
                       .arg(shown(encoding)));
        return;
    }
    bool known = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && maxBytes >= 0 && length > maxBytes)
        giveUp(Error::Refused, NetworkFailure::Cause::TooLarge, maxBytes,
               QStringLiteral("larger than ") + NetworkLimits::sizeText(maxBytes));
}

void TransferWatch::bytesArrived(qint64 received)
{
    if (received == this->received)
        return;
    this->received = received;
    stall.start();
    if (maxBytes >= 0 && received > maxBytes)
        giveUp(Error::Refused, NetworkFailure::Cause::TooLarge, maxBytes,
               QStringLiteral("larger than ") + NetworkLimits::sizeText(maxBytes));
}

void TransferWatch::checkPace()
{
    const qint64 now = clock.elapsed();
    const qint64 windowStart = now - NetworkLimits::dripWindowMs;
    samples.emplace_back(now, received);
    // Keep the newest sample at or before the window's start, and everything after it.
    while (samples.size() > 1 && samples[1].first <= windowStart)
        samples.pop_front();
    if (samples.front().first > windowStart)
        return; // not one whole window yet
    if (received - samples.front().second < NetworkLimits::dripMinBytes)
        giveUp(Error::Timeout, NetworkFailure::Cause::TooSlow, NetworkLimits::dripWindowMs,
               QStringLiteral("too slow: less than %1 in %2")
                       .arg(NetworkLimits::sizeText(NetworkLimits::dripMinBytes),
                            secondsText(NetworkLimits::dripWindowMs)));
}

void TransferWatch::giveUp(Error kind, NetworkFailure::Cause cause, qint64 limit,
                           const QString &why)
{
    if (gaveUp())
        return;
    whyKind = kind;
    whyValues.cause = cause;
    whyValues.limit = limit;
    this->why = why;
    stall.stop();
    pace.stop();
    // Aborted from the event loop: Qt does not expect a reply to end inside its own report of
    // headers. A reply that finishes before then is refused all the same by error(), as is a
    // body over the cap that Qt reports only once the reply counts as finished.
    QMetaObject::invokeMethod(
            this,
            [this] {
                if (!reply->isFinished())
                    reply->abort();
            },
            Qt::QueuedConnection);
}
