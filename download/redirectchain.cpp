#include "download/redirectchain.h"

#include "download/network.h"

#include <QNetworkReply>

namespace {

// Far beyond any real address; a Location longer than this is no address but a flood.
constexpr int maxLocationBytes = 4096;
constexpr int maxShownChars = 300;

// The fragment plays no part in a request: two addresses that differ only there are one.
QUrl requested(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments);
}

QUrl resolve(const QUrl &base, const QByteArray &location)
{
    const QByteArray value = location.trimmed();
    if (value.isEmpty() || value.size() > maxLocationBytes)
        return QUrl();
    const QUrl relative = QUrl::fromEncoded(value, QUrl::TolerantMode);
    return relative.isValid() ? base.resolved(relative) : QUrl();
}

} // namespace

RedirectChain::RedirectChain(const QUrl &origin)
    : chain { origin }
{ }

RedirectChain::Step RedirectChain::judge(int status, const QByteArray &location)
{
    if (!isRedirect(status))
        return Step::Final;
    const QUrl from = current();
    const QUrl to = resolve(from, location);
    values.status = status;
    values.host = from.host() + QLatin1Char(':')
            + QString::number(from.port(from.scheme() == QLatin1String("https") ? 443 : 80));
    if (!to.isValid())
        return refuse(NetworkFailure::Cause::Malformed, to,
                      QStringLiteral("HTTP status %1 without a usable Location").arg(status));
    if (!Network::isWebAddress(to))
        return refuse(
                NetworkFailure::Cause::RedirectScheme, to,
                QStringLiteral("redirected to %1, not an http or https address").arg(shown(to)));
    // Once secure, the rest of the way stays secure: an http hop could be read and changed.
    if (from.scheme() == QLatin1String("https") && to.scheme() == QLatin1String("http"))
        return refuse(NetworkFailure::Cause::RedirectInsecure, to,
                      QStringLiteral("redirected from https to %1").arg(shown(to)));
    for (const QUrl &asked : qAsConst(chain)) {
        if (requested(asked) == requested(to))
            return refuse(NetworkFailure::Cause::RedirectLoop, to,
                          QStringLiteral("redirected in a loop back to %1").arg(shown(to)));
    }
    if (hops() >= maxHops)
        return refuse(NetworkFailure::Cause::TooManyRedirects, to,
                      QStringLiteral("more than %1 redirects").arg(maxHops));
    chain.append(to);
    return Step::Follow;
}

bool RedirectChain::isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QUrl RedirectChain::target(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return isRedirect(status) ? resolve(reply.request().url(), reply.rawHeader("Location"))
                              : QUrl();
}

QString RedirectChain::shown(const QUrl &url)
{
    const QString text = url.toDisplayString(QUrl::RemovePassword);
    return text.size() > maxShownChars ? text.left(maxShownChars) + QStringLiteral("...") : text;
}

RedirectChain::Step RedirectChain::refuse(NetworkFailure::Cause cause, const QUrl &to,
                                          const QString &line)
{
    values.cause = cause;
    values.address = to.isValid() ? shown(to) : QString();
    values.limit = maxHops;
    why = line;
    return Step::Refuse;
}
