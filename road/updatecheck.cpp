#include "road/updatecheck.h"

#include "download/network.h"
#include "download/networklimits.h"
#include "download/transferwatch.h"
#include "road/failuretext.h"
#include "road/settings.h"
#include "verify/releasetrust.h"

#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace {

// Which press a reply belongs to, and whether it is the signature.
const char roundProperty[] = "updaterCheckRound";
const char signatureProperty[] = "updaterCheckSignature";

} // namespace

UpdateCheck::UpdateCheck(const ReleaseTrust &trust, QObject *parent)
    : QObject(parent)
    , trust(trust)
{ }

void UpdateCheck::start(const QString &manifestUrl, const QString &platformKey)
{
    const int round = ++lastRound;
    rounds[round].platformKey = platformKey;
    const QUrl address(manifestUrl, QUrl::TolerantMode);
    rounds[round].fileName = address.fileName();
    rounds[round].secure = address.scheme() == QLatin1String("https");
    QTimer::singleShot(NetworkLimits::checkDeadlineMs, this, [this, round] { expire(round); });
    send(manifestUrl, NetworkLimits::manifestMaxBytes, round, false);
    if (trust.isSigned())
        send(manifestUrl + QLatin1String(".minisig"), NetworkLimits::signatureMaxBytes, round,
             true);
}

void UpdateCheck::send(const QString &url, qint64 maxBytes, int round, bool signature)
{
    QNetworkReply *reply = Network::get(QNetworkRequest(QUrl(url, QUrl::TolerantMode)), this);
    auto *watch = new TransferWatch(reply, maxBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply, watch] { take(reply, watch); });
    reply->setProperty(roundProperty, round);
    reply->setProperty(signatureProperty, signature);
    ++rounds[round].pending;
    rounds[round].replies.append(reply);
}

void UpdateCheck::take(QNetworkReply *reply, const TransferWatch *watch)
{
    // Released once handled, so that repeated checks do not pile up replies.
    reply->deleteLater();
    const int number = reply->property(roundProperty).toInt();
    const auto round = rounds.find(number);
    if (round == rounds.end())
        return;
    const QString failure = round->late
            ? QStringLiteral("no answer within %1 s").arg(NetworkLimits::checkDeadlineMs / 1000.0)
            : watch->errorString();
    NetworkFailure cause = watch->failure();
    if (round->late) {
        cause.cause = NetworkFailure::Cause::NoAnswer;
        cause.limit = NetworkLimits::checkDeadlineMs;
    }
    const QByteArray body = failure.isEmpty() ? reply->readAll() : QByteArray();
    if (reply->property(signatureProperty).toBool()) {
        round->signature = body;
        round->signatureFailure = failure;
        round->signatureCause = cause;
    } else {
        round->manifest = body;
        round->manifestFailure = failure;
        round->manifestCause = cause;
    }
    if (--round->pending == 0)
        emit finished(judge(rounds.take(number)));
}

// What has not arrived by the deadline is aborted: each reply then finishes, and the round ends
// as a failed transfer.
void UpdateCheck::expire(int round)
{
    const auto found = rounds.find(round);
    if (found == rounds.end())
        return;
    found->late = true;
    // A copy: the last abort ends the round, which takes it out of rounds.
    const QList<QPointer<QNetworkReply>> replies = found->replies;
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (reply && !reply->isFinished())
            reply->abort();
    }
}

UpdateCheck::Result UpdateCheck::judge(const Round &round) const
{
    Result result;
    if (!round.manifestFailure.isEmpty()) {
        result.detail = round.manifestFailure;
        result.reason = FailureText::network(round.manifestCause);
        return result;
    }
    if (trust.isSigned()) {
        result.detail = round.signatureFailure;
        if (result.detail.isEmpty())
            trust.verifyManifest(round.manifest, round.signature, round.fileName, &result.detail);
        if (!result.detail.isEmpty()) {
            result.outcome = Outcome::SignatureInvalid;
            result.reason = FailureText::signature(FailureText::Subject::UpdateInformation,
                                                   round.signatureCause, trust.problem());
            return result;
        }
    }
    switch (result.manifest.read(round.manifest, round.platformKey)) {
    case Manifest::Status::NotJson:
        result.outcome = Outcome::NotJson;
        result.reason = FailureText::notJson(round.manifest);
        break;
    case Manifest::Status::Unusable:
        result.outcome = Outcome::Unusable;
        result.detail = result.manifest.errorString();
        result.reason = FailureText::unusableManifest();
        break;
    case Manifest::Status::Read:
        result.detail = round.secure ? insecureAddress(result.manifest) : QString();
        if (!result.detail.isEmpty()) {
            result.outcome = Outcome::Unusable;
            result.reason = FailureText::insecureAddress();
            break;
        }
        result.outcome = Outcome::Read;
        // Unsigned, anyone could have written the expiry as well.
        if (trust.isSigned())
            result.detail = expiryProblem(result.manifest);
        if (!result.detail.isEmpty())
            result.outcome = Outcome::Expired;
        break;
    }
    return result;
}

// What a manifest read over https must not lead to: a package, its signature or an installer
// fetched over plain http, which anyone on the way could swap or, unsigned, change. Addresses
// that are not web addresses at all are refused where they are fetched.
QString UpdateCheck::insecureAddress(const Manifest &manifest)
{
    for (const QString &address : { manifest.downloadUrl, manifest.fullUrl, manifest.deltaUrl }) {
        const QUrl url(address, QUrl::TolerantMode);
        if (Network::isWebAddress(url) && url.scheme() != QLatin1String("https"))
            return QStringLiteral("an http address in a manifest read over https: ") + address;
    }
    return QString();
}

// A signed manifest replayed long after its release would keep telling users they are up to
// date: it counts only until its expiry, give or take a day of clock skew.
QString UpdateCheck::expiryProblem(const Manifest &manifest)
{
    if (!manifest.hasExpires) {
        return requireExpiry ? tr("the update information has no expiry date; the update server "
                                  "may be out of date")
                             : QString();
    }
    if (!manifest.expires.isValid())
        return tr("the update information has an expiry date that is not readable; the update "
                  "server may be out of date");
    if (manifest.expires.secsTo(QDateTime::currentDateTimeUtc()) <= clockSkewSeconds)
        return QString();
    return tr("the update information expired on %1; the update server may be out of date")
            .arg(manifest.expires.date().toString(Qt::ISODate));
}
