#include "app/builtintrust.h"

#include "download/network.h"

#include "trustedpem.inc"

bool BuiltInTrust::apply()
{
    const QByteArray pem(trustedPem);
    if (pem.isEmpty())
        return true;
    const QList<QSslCertificate> certificates = certificatesOf(pem);
    if (certificates.isEmpty())
        return false;
    Network::setTrustedCertificates(certificates);
    return true;
}

QList<QSslCertificate> BuiltInTrust::certificatesOf(const QByteArray &pem)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(pem, QSsl::Pem);
    const int blocks = pem.count("-----BEGIN CERTIFICATE-----");
    for (const QSslCertificate &certificate : certificates) {
        if (certificate.isNull())
            return {};
    }
    return certificates.size() == blocks ? certificates : QList<QSslCertificate>();
}

QString BuiltInTrust::unreadableText()
{
    return tr("The updater's built-in certificates cannot be read, so it cannot check any "
              "server. Install the updater again.");
}
