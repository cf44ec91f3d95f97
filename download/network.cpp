#include "download/network.h"

#include "download/networkfailure.h"
#include "download/refusedreply.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslConfiguration>
#include <QUrl>

bool Network::isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty()
            && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString Network::refusal(const QUrl &url)
{
    if (url.isEmpty())
        return tr("no address");
    return isWebAddress(url) ? QString() : tr("not an http or https address");
}

QNetworkReply *Network::get(QNetworkRequest request, QObject *owner)
{
    const QString why = refusal(request.url());
    if (!why.isEmpty())
        return new RefusedReply(request, why, owner);
    // Asking for identity ourselves also stops Qt from asking for gzip and inflating it.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // Set on every request, so that nothing a caller put there can loosen it; no error is ever
    // ignored.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!trusted().isEmpty())
        tls.setCaCertificates(trusted());
    request.setSslConfiguration(tls);
    QNetworkReply *reply = manager()->get(request);
    reply->setParent(owner);
    NetworkFailure::watchCertificate(reply);
    return reply;
}

void Network::setTrustedCertificates(const QList<QSslCertificate> &certificates)
{
    trusted() = certificates;
}

QList<QSslCertificate> &Network::trusted()
{
    static QList<QSslCertificate> certificates;
    return certificates;
}

QNetworkAccessManager *Network::manager()
{
    // Guarded, so that a manager that went with its application is made again, not used.
    static QPointer<QNetworkAccessManager> one;
    if (!one)
        one = new QNetworkAccessManager(QCoreApplication::instance());
    return one;
}
