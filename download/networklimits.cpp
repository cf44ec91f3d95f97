#include "download/networklimits.h"

namespace NetworkLimits {

int stallTimeoutMs = 30 * 1000;
int dripWindowMs = 60 * 1000;
int checkDeadlineMs = 60 * 1000;
qint64 dripMinBytes = 64 * 1024;
qint64 manifestMaxBytes = 1024 * 1024;
// No signature file that minisign writes comes near it; the signature's parser refuses anything
// larger than the same 64 KiB.
qint64 signatureMaxBytes = 64 * 1024;
qint64 readBufferBytes = 2 * 1024 * 1024;
qint64 hashBacklogBytes = 4 * 1024 * 1024;
qint64 downloadMaxBytes = qint64(8) << 30;
qint64 freeSpaceReserveBytes = 64 * 1024 * 1024;
int retryCount = 5;
int retryDelayMs = 1000;

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
