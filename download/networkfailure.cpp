#include "download/networkfailure.h"

#include <QNetworkReply>
#include <QSslConfiguration>
#include <QUrl>

namespace {

// The reply's own property, so that the fault goes wherever the reply goes.
constexpr char certificateProperty[] = "updaterCertificateFault";

// A server that speaks no TLS version the request allows may hang up on its hello, which Qt then
// reports as a closed connection rather than a failed handshake. The peer is always verified,
// so a session that was made has the server's certificate.
bool hungUpOnHello(const QNetworkReply &reply)
{
    return reply.request().url().scheme() == QLatin1String("https")
            && reply.sslConfiguration().peerCertificate().isNull();
}

} // namespace

NetworkFailure NetworkFailure::of(const QNetworkReply &reply)
{
    NetworkFailure failure;
    failure.host = hostOf(reply);
    failure.status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    switch (reply.error()) {
    case QNetworkReply::NoError:
        failure.cause = Cause::None;
        break;
    case QNetworkReply::ConnectionRefusedError:
        failure.cause = Cause::ConnectionRefused;
        break;
    case QNetworkReply::HostNotFoundError:
        failure.cause = Cause::HostNotFound;
        break;
    case QNetworkReply::RemoteHostClosedError:
        failure.cause = hungUpOnHello(reply) ? Cause::Secure : Cause::Lost;
        break;
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        failure.cause = Cause::Lost;
        break;
    case QNetworkReply::SslHandshakeFailedError:
        failure.cause = Cause::Secure;
        failure.certificate = QSslError::SslError(reply.property(certificateProperty).value<int>());
        break;
    case QNetworkReply::ProtocolUnknownError:
        failure.cause = Cause::NotWebAddress;
        break;
    default:
        // An answer with a status of its own says more than Qt's code for it.
        failure.cause = failure.status != 0 ? Cause::Status : Cause::Other;
        break;
    }
    return failure;
}

QString NetworkFailure::hostOf(const QNetworkReply &reply)
{
    const QUrl url = reply.request().url();
    const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    return url.host() + QLatin1Char(':') + QString::number(port);
}

void NetworkFailure::watchCertificate(QNetworkReply *reply)
{
    // Nothing ignores the faults, so the handshake fails after this; only the first is kept, as
    // a chain that is not trusted is also reported as of another name.
    QObject::connect(reply, &QNetworkReply::sslErrors, reply,
                     [reply](const QList<QSslError> &errors) {
                         if (!errors.isEmpty() && !reply->property(certificateProperty).isValid())
                             reply->setProperty(certificateProperty, int(errors.first().error()));
                     });
}
