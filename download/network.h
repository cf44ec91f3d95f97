#ifndef NETWORK_H
#define NETWORK_H

#include <QCoreApplication>
#include <QList>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// The program's one door to the network. Every GET goes through get(), so that the manifest,
// its signature and the packages pass the same rules: http or https only, no compression (so
// nothing is ever inflated in memory), no redirection followed by Qt (a package's fetch follows
// them hop by hop, each through here, as RedirectChain allows), TLS 1.2 or newer with the peer's
// certificate and name always checked. One QNetworkAccessManager serves
// the whole process, as Qt advises; it is made on first use as the application's child.
class Network
{
    Q_DECLARE_TR_FUNCTIONS(Network)

public:
    Network() = delete;

    // Whether url is an address the program may fetch at all: http or https with a host. A
    // file:// address would copy any local program in as the package.
    static bool isWebAddress(const QUrl &url);
    // Why url may not be fetched ("no address", "not an http or https address"), or an empty
    // string when it may.
    static QString refusal(const QUrl &url);
    // Sends a GET of request, its headers kept and the rules above set over them. Always a reply,
    // owner's child, so that it goes with the one who asked: for a refused address one that
    // finishes from the event loop with ProtocolUnknownError and refusal() as its errorString(),
    // so that it fails where any other reply fails.
    static QNetworkReply *get(QNetworkRequest request, QObject *owner);
    // The certificates that an https server's chain must lead to, in place of the system's trust
    // store; none (the default) for the system's store. Set before the first get().
    static void setTrustedCertificates(const QList<QSslCertificate> &certificates);

private:
    static QNetworkAccessManager *manager();
    static QList<QSslCertificate> &trusted();
};

#endif // NETWORK_H
