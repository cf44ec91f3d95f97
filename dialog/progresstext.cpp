#include "dialog/progresstext.h"

#include <QCoreApplication>

namespace {

QString trDialog(const char *text)
{
    return QCoreApplication::translate("UpdaterDialog", text);
}

} // namespace

QString ProgressText::size(qint64 bytes)
{
    if (bytes <= 1023)
        return trDialog("%1 bytes").arg(bytes);
    if (bytes <= 1048575)
        return trDialog("%1 KB").arg(bytes / 1024);
    return trDialog("%1 MB").arg(QString::number(double(bytes) / 1048576.0, 'g', 6));
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

QString ProgressText::summary(double seconds, double kilobytesPerSecond)
{
    return QLatin1String("total time: ") + QString::number(seconds, 'g', 3)
            + QLatin1String("s    average speed: ") + QString::number(kilobytesPerSecond, 'g', 3)
            + QLatin1String("kb/s");
}
