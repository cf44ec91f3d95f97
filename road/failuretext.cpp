#include "road/failuretext.h"

#include "download/networklimits.h"
#include "platform/updatelock.h"
#include "road/settings.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>

namespace {

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0);
}

// The reason phrases of the statuses a misconfigured server answers most; the server's own
// phrase is not shown, as nothing it sends is.
QString statusPhrase(int status)
{
    static const QHash<int, const char *> phrases {
        { 400, "Bad Request" },
        { 401, "Unauthorized" },
        { 403, "Forbidden" },
        { 404, "Not Found" },
        { 410, "Gone" },
        { 429, "Too Many Requests" },
        { 500, "Internal Server Error" },
        { 502, "Bad Gateway" },
        { 503, "Service Unavailable" },
        { 504, "Gateway Timeout" },
    };
    return QString::fromLatin1(phrases.value(status));
}

QString statusText(int status)
{
    if (status == 200 || status == 206)
        return FailureText::tr("the server's answer does not match its own headers");
    if (status >= 300 && status < 400)
        return FailureText::tr("the server answered %1, a redirect, which the updater does not "
                               "follow")
                .arg(status);
    const QString phrase = statusPhrase(status);
    return phrase.isEmpty() ? FailureText::tr("the server answered %1").arg(status)
                            : FailureText::tr("the server answered %1 %2").arg(status).arg(phrase);
}

// Why the handshake with host failed, by the first fault of its certificate.
QString secureText(QSslError::SslError fault, const QString &host)
{
    switch (fault) {
    case QSslError::NoError:
        return FailureText::tr("the server %1 offers no secure connection of TLS 1.2 or newer")
                .arg(host);
    case QSslError::HostNameMismatch:
        return FailureText::tr("the server's certificate was issued for another name");
    case QSslError::CertificateExpired:
        return FailureText::tr("the server's certificate has expired");
    case QSslError::CertificateNotYetValid:
        return FailureText::tr("the server's certificate is not valid yet; check the computer's "
                               "date and time");
    case QSslError::CertificateRevoked:
        return FailureText::tr("the server's certificate has been revoked");
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::UnableToDecryptCertificateSignature:
    case QSslError::UnableToDecodeIssuerPublicKey:
    case QSslError::CertificateSignatureFailed:
    case QSslError::InvalidCaCertificate:
    case QSslError::PathLengthExceeded:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
    case QSslError::SubjectIssuerMismatch:
    case QSslError::AuthorityIssuerSerialNumberMismatch:
    case QSslError::CertificateBlacklisted:
        return FailureText::tr("the server's certificate is not trusted");
    default:
        break;
    }
    return FailureText::tr("the server's certificate cannot be used for a secure connection");
}

} // namespace

QString FailureText::network(const NetworkFailure &failure)
{
    using Cause = NetworkFailure::Cause;
    switch (failure.cause) {
    case Cause::ConnectionRefused:
        return tr("cannot reach %1: connection refused").arg(failure.host);
    case Cause::HostNotFound:
        return tr("cannot reach %1: host not found").arg(failure.host);
    case Cause::NoAnswer:
        return tr("no answer from %1 within %2 s").arg(failure.host, seconds(failure.limit));
    case Cause::TooSlow:
        return tr("the connection to %1 is too slow: less than %2 in %3 s")
                .arg(failure.host, NetworkLimits::sizeText(NetworkLimits::dripMinBytes),
                     seconds(failure.limit));
    case Cause::Lost:
        return tr("the connection to %1 was lost").arg(failure.host);
    case Cause::Status:
        return statusText(failure.status);
    case Cause::Compressed:
        return tr("the server sent a compressed answer, which the updater does not accept");
    case Cause::TooLarge:
        return tr("the server's answer is larger than %1").arg(size(failure.limit));
    case Cause::NotWebAddress:
        return tr("the address is not an http or https address");
    case Cause::Secure:
        return secureText(failure.certificate, failure.host);
    case Cause::Empty:
        return tr("the server sent an empty file");
    case Cause::Malformed:
        return tr("the server's answer does not match its own headers");
    case Cause::Redirected:
        return tr("the update server redirects the update information to %1; redirects are not "
                  "followed")
                .arg(failure.address);
    case Cause::TooManyRedirects:
        return tr("the server redirected more than %1 times").arg(failure.limit);
    case Cause::RedirectLoop:
        return tr("the server's redirects go round in a loop");
    case Cause::RedirectScheme:
        return tr("the server redirected to %1, which is not an http or https address")
                .arg(failure.address);
    case Cause::RedirectInsecure:
        return tr("the server redirected from a secure (https) address to an insecure one: %1")
                .arg(failure.address);
    case Cause::None:
    case Cause::Other:
        break;
    }
    return tr("the network failed while talking to %1").arg(failure.host);
}

QString FailureText::download(const Download::Failure &failure)
{
    switch (failure.error) {
    case Download::Error::DiskFull:
        if (failure.needed < 0)
            return tr("the disk is full");
        return tr("not enough disk space: %1 needed, %2 free")
                .arg(size(failure.needed), size(std::max<qint64>(failure.available, 0)));
    case Download::Error::WriteFailed:
        return tr("the package could not be saved in the folder %1").arg(UpdateLock::folderName());
    case Download::Error::Busy:
        return tr("another update is running; try again once it has finished");
    case Download::Error::Cancelled:
        return tr("the download was cancelled");
    case Download::Error::Network:
        // The first request and every one asked again.
        if (failure.retries > 0)
            return tr("the connection to %1 was lost %2 times")
                    .arg(failure.network.host)
                    .arg(failure.retries + 1);
        break;
    case Download::Error::NoError:
    case Download::Error::Refused:
    case Download::Error::Timeout:
        break;
    }
    return network(failure.network);
}

QString FailureText::notJson(const QByteArray &body)
{
    if (body.trimmed().isEmpty())
        return tr("the server sent an empty answer instead of the update information");
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    const QByteArray before = body.left(error.offset);
    const int line = before.count('\n') + 1;
    const int column = error.offset - (before.lastIndexOf('\n') + 1) + 1;
    return tr("the update information is not valid JSON (line %1, column %2)")
            .arg(line)
            .arg(column);
}

QString FailureText::unusableManifest()
{
    return tr("the update information holds a version or an address longer than any release "
              "uses");
}

QString FailureText::insecureAddress()
{
    return tr("insecure address in the update information: it came over https but names a "
              "package to fetch over http");
}

QString FailureText::signature(Subject subject, const NetworkFailure &fetch,
                               ReleaseTrust::Problem problem)
{
    const bool package = subject == Subject::Package;
    if (fetch.cause == NetworkFailure::Cause::Status
        && (fetch.status == 404 || fetch.status == 410))
        return package ? tr("no signature was published beside the package (%1)").arg(fetch.status)
                       : tr("no signature was published beside the update information (%1)")
                                 .arg(fetch.status);
    if (fetch.cause != NetworkFailure::Cause::None)
        return network(fetch);
    switch (problem) {
    case ReleaseTrust::Problem::Unreadable:
        return package ? tr("the signature of the package is not readable")
                       : tr("the signature of the update information is not readable");
    case ReleaseTrust::Problem::KeyUnusable:
        return tr("the updater's built-in key is unusable; install the updater again");
    case ReleaseTrust::Problem::OtherKey:
        return package ? tr("the package was signed with a key this updater does not trust")
                       : tr("the update information was signed with a key this updater does not "
                            "trust");
    case ReleaseTrust::Problem::OtherFile:
        return package ? tr("the signature was made for another file than the package")
                       : tr("the signature was made for another file than the update "
                            "information");
    case ReleaseTrust::Problem::None:
    case ReleaseTrust::Problem::NotTaken:
    case ReleaseTrust::Problem::Mismatch:
        break;
    }
    return package ? tr("the signature does not match: the package may have been altered")
                   : tr("the signature does not match: the update information may have been "
                        "altered");
}

QString FailureText::noPackageAddress()
{
    return tr("the update information names no package for this update");
}

QString FailureText::noWholePackage()
{
    return tr("the delta does not fit this installation and no whole package is named");
}

QString FailureText::rejected(InstallError error)
{
    switch (error) {
    case InstallError::Cancelled:
        return tr("the install was cancelled; nothing was changed");
    case InstallError::NoSpace:
        return tr("the disk has too little room for the new files; nothing was changed");
    case InstallError::Busy:
        return tr("try again once the other update has finished");
    case InstallError::WriteFailed:
        return tr("a file of the application could not be replaced; nothing was changed");
    case InstallError::RollBackIncomplete:
        return tr("the backups of the files it changed are kept for the next start");
    case InstallError::NoError:
    case InstallError::Refused:
        break;
    }
    return tr("the package is damaged or unsafe; nothing was changed");
}

QString FailureText::changedAfterDownload()
{
    return tr("the downloaded file changed before it was used; try the update again");
}

QString FailureText::notStarted(PackageUse::StartProblem problem)
{
    switch (problem) {
    case PackageUse::StartProblem::NotProgram:
        return tr("the full package is not a program (.exe); the publisher must fix it");
    case PackageUse::StartProblem::Changed:
        return changedAfterDownload();
    case PackageUse::StartProblem::Missing:
        return tr("the program is not there; install %1 again").arg(appName);
    case PackageUse::StartProblem::None:
    case PackageUse::StartProblem::SystemRefused:
        break;
    }
    return tr("the system did not start it; start it by hand");
}

QString FailureText::size(qint64 bytes)
{
    const double mib = 1024.0 * 1024.0;
    if (bytes >= 1024 * 1024 * 1024LL)
        return tr("%1 GB").arg(QString::number(double(bytes) / (mib * 1024.0), 'f', 1));
    if (bytes >= 1024 * 1024)
        return tr("%1 MB").arg(qint64(double(bytes) / mib + 0.5));
    return tr("%1 KB").arg((bytes + 1023) / 1024);
}
