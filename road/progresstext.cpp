#include "road/progresstext.h"

#include <QMetaEnum>

#include <algorithm>

namespace {

// Averages over less than this say more about the timer than about the line.
const qint64 firstEstimateMs = 1000;
// Beyond any real download; keeps the conversion from double to an integer defined.
const double longestRemainingSeconds = 1e12;

double kilobytesPerSecond(qint64 bytes, qint64 ms)
{
    return double(bytes) / 1024.0 / double(ms) * 1000.0;
}

QString speedNumber(qint64 bytes, qint64 ms)
{
    return QString::number(kilobytesPerSecond(bytes, ms), 'g', 6);
}

} // namespace

int ProgressText::percent(qint64 received, qint64 total)
{
    if (total <= 0)
        return -1;
    // In floating point so that no byte count overflows; clamped, as more than the announced
    // total may arrive.
    return int(std::clamp(double(received) * 100.0 / double(total), 0.0, 100.0));
}

QString ProgressText::size(qint64 bytes)
{
    if (bytes <= 1023)
        return tr("%1 bytes").arg(bytes);
    if (bytes <= 1048575)
        return tr("%1 KB").arg(bytes / 1024);
    return tr("%1 MB").arg(QString::number(double(bytes) / 1048576.0, 'g', 6));
}

QString ProgressText::sizeLine(qint64 received, qint64 total)
{
    return total > 0 ? tr("Downloading updates (%1 of %2)").arg(size(received), size(total))
                     : tr("Downloading updates (%1)").arg(size(received));
}

QString ProgressText::remaining(qint64 seconds)
{
    const double r = double(seconds);
    // Rounded to the nearest unit; anything up to a second and a half reads "1 second".
    if (r > 7200)
        return tr("about %1 hours").arg(qint64(r / 3600 + 0.5));
    if (r > 60) {
        const qint64 minutes = qint64(r / 60 + 0.5);
        return minutes <= 1 ? tr("1 minute") : tr("%1 minutes").arg(minutes);
    }
    const qint64 secs = qint64(r + 0.5);
    return secs <= 1 ? tr("1 second") : tr("%1 seconds").arg(secs);
}

QString ProgressText::speed(double kilobytesPerSecond)
{
    return tr("speed: %1 kb/s  ").arg(QString::number(kilobytesPerSecond, 'g', 6));
}

QString ProgressText::rateLine(qint64 intervalBytes, qint64 intervalMs, qint64 received,
                               qint64 total, qint64 sinceStartMs)
{
    if (sinceStartMs < firstEstimateMs || intervalMs <= 0 || intervalBytes < 0)
        return QString();
    if (total <= 0 || received <= 0)
        return speed(kilobytesPerSecond(intervalBytes, intervalMs));
    const double averageBytesPerMs = double(received) / double(sinceStartMs);
    const double seconds
            = double(std::max<qint64>(total - received, 0)) / averageBytesPerMs / 1000.0;
    return tr("speed: %1 kb/s  Time remaining: %2")
            .arg(speedNumber(intervalBytes, intervalMs),
                 remaining(qint64(std::min(seconds, longestRemainingSeconds))));
}

QString ProgressText::summary(qint64 elapsedMs, qint64 bytes)
{
    const QString time = QString::number(double(elapsedMs) / 1000.0, 'g', 3);
    if (elapsedMs <= 0)
        return tr("total time: %1s").arg(time);
    return tr("total time: %1s    average speed: %2kb/s")
            .arg(time,
                 QString::number(kilobytesPerSecond(std::max<qint64>(bytes, 0), elapsedMs), 'g',
                                 3));
}

QString ProgressText::retryLine(Downloader::Retry cause, qint64 resumeAt, int waitMs, int attempt,
                                int attempts)
{
    const QString of[] = { QString::number(attempt), QString::number(attempts) };
    switch (cause) {
    case Downloader::Retry::ConnectionLost:
        return resumeAt > 0
                ? tr("connection lost, resuming at %1 (%2 of %3)").arg(size(resumeAt), of[0], of[1])
                : tr("connection lost, starting again (%1 of %2)").arg(of[0], of[1]);
    case Downloader::Retry::PartRefused:
        return tr("wrong part received, starting again (%1 of %2)").arg(of[0], of[1]);
    case Downloader::Retry::ServerBusy:
        // Rounded up: a wait of half a second is not "0 s".
        return tr("server busy, trying again in %1 s (%2 of %3)")
                .arg(QString::number((qint64(waitMs) + 999) / 1000), of[0], of[1]);
    }
    return QString();
}

QString ProgressText::errorKey(QNetworkReply::NetworkError code)
{
    const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    return QString::fromLatin1(errors.valueToKey(code));
}
