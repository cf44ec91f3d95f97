#include "road/progresstext.h"

#include <QMetaEnum>

#include <QCoreApplication>

#include <algorithm>

namespace {

QString trDialog(const char *text)
{
    return QCoreApplication::translate("UpdaterDialog", text);
}

// Averages over less than this say more about the timer than about the line.
const qint64 firstEstimateMs = 1000;
// Beyond any real download; keeps the conversion from double to an integer defined.
const double longestRemainingSeconds = 1e12;

double kilobytesPerSecond(qint64 bytes, qint64 ms)
{
    return double(bytes) / 1024.0 / double(ms) * 1000.0;
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
        return trDialog("%1 bytes").arg(bytes);
    if (bytes <= 1048575)
        return trDialog("%1 KB").arg(bytes / 1024);
    return trDialog("%1 MB").arg(QString::number(double(bytes) / 1048576.0, 'g', 6));
}

QString ProgressText::sizeLine(qint64 received, qint64 total)
{
    QString text = trDialog("Downloading updates") + QLatin1String(" (") + size(received);
    if (total > 0)
        text += QLatin1Char(' ') + trDialog("of") + QLatin1Char(' ') + size(total);
    return text + QLatin1Char(')');
}

QString ProgressText::remaining(qint64 seconds)
{
    const double r = double(seconds);
    // Rounded to the nearest unit; anything up to a second and a half reads "1 second".
    if (r > 7200)
        return trDialog("about %1 hours").arg(qint64(r / 3600 + 0.5));
    if (r > 60) {
        const qint64 minutes = qint64(r / 60 + 0.5);
        return minutes <= 1 ? trDialog("1 minute") : trDialog("%1 minutes").arg(minutes);
    }
    const qint64 secs = qint64(r + 0.5);
    return secs <= 1 ? trDialog("1 second") : trDialog("%1 seconds").arg(secs);
}

QString ProgressText::speed(double kilobytesPerSecond)
{
    return trDialog("speed: %1 kb/s  ").arg(QString::number(kilobytesPerSecond, 'g', 6));
}

QString ProgressText::rateLine(qint64 intervalBytes, qint64 intervalMs, qint64 received,
                               qint64 total, qint64 sinceStartMs)
{
    if (sinceStartMs < firstEstimateMs || intervalMs <= 0 || intervalBytes < 0)
        return QString();
    const QString speedText = speed(kilobytesPerSecond(intervalBytes, intervalMs));
    if (total <= 0 || received <= 0)
        return speedText;
    const double averageBytesPerMs = double(received) / double(sinceStartMs);
    const double seconds
            = double(std::max<qint64>(total - received, 0)) / averageBytesPerMs / 1000.0;
    return speedText + trDialog("Time remaining") + QLatin1String(": ")
            + remaining(qint64(std::min(seconds, longestRemainingSeconds)));
}

QString ProgressText::summary(qint64 elapsedMs, qint64 bytes)
{
    QString text = QLatin1String("total time: ")
            + QString::number(double(elapsedMs) / 1000.0, 'g', 3) + QLatin1Char('s');
    if (elapsedMs <= 0)
        return text;
    return text + QLatin1String("    average speed: ")
            + QString::number(kilobytesPerSecond(std::max<qint64>(bytes, 0), elapsedMs), 'g', 3)
            + QLatin1String("kb/s");
}

QString ProgressText::retryLine(Downloader::Retry cause, qint64 resumeAt, int waitMs, int attempt,
                                int attempts)
{
    QString what;
    switch (cause) {
    case Downloader::Retry::ConnectionLost:
        what = resumeAt > 0 ? trDialog("connection lost, resuming at %1").arg(size(resumeAt))
                            : trDialog("connection lost, starting again");
        break;
    case Downloader::Retry::PartRefused:
        what = trDialog("wrong part received, starting again");
        break;
    case Downloader::Retry::ServerBusy:
        // Rounded up: a wait of half a second is not "0 s".
        what = trDialog("server busy, trying again in %1 s").arg((qint64(waitMs) + 999) / 1000);
        break;
    }
    return what + QStringLiteral(" (%1 of %2)").arg(attempt).arg(attempts);
}

QString ProgressText::errorKey(QNetworkReply::NetworkError code)
{
    const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    return QString::fromLatin1(errors.valueToKey(code));
}
