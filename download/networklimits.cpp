#include "download/networklimits.h"

#include "verify/minisignsignature.h"

#include <QUrl>

namespace NetworkLimits {

int stallTimeoutMs = 30 * 1000;
int dripWindowMs = 60 * 1000;
int checkDeadlineMs = 60 * 1000;
qint64 dripMinBytes = 64 * 1024;
qint64 manifestMaxBytes = 1024 * 1024;
// No signature file that minisign writes comes near it; the parser refuses anything larger.
qint64 signatureMaxBytes = MinisignSignature::MaxSize;
qint64 readBufferBytes = 2 * 1024 * 1024;
qint64 hashBacklogBytes = 4 * 1024 * 1024;
qint64 downloadMaxBytes = qint64(8) << 30;
qint64 freeSpaceReserveBytes = 64 * 1024 * 1024;
int retryCount = 5;
int retryDelayMs = 1000;

QNetworkRequest request(const QUrl &url)
{
    QNetworkRequest request(url);
    // Asking for identity ourselves also stops Qt from asking for gzip and inflating it.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    return request;
}

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty()
            && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QString::number(bytes / (1024 * 1024)) + QStringLiteral(" MiB");
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QString::number(bytes / 1024) + QStringLiteral(" KiB");
    return QString::number(bytes)
            + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}

} // namespace NetworkLimits
