#ifndef PROGRESSTEXT_H
#define PROGRESSTEXT_H

#include "download/downloader.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QString>

// The texts of the download progress display, as pure functions of byte counts and
// milliseconds: the dialog reads the clocks.
// A total of 0 or less means the server announced no size.
class ProgressText
{
    Q_DECLARE_TR_FUNCTIONS(ProgressText)

public:
    // Position of the bar in percent (0 to 100), or -1 for a busy bar when the total is unknown.
    static int percent(qint64 received, qint64 total);
    // "512 bytes", "1023 KB", "1.5 MB": 1024-based units under the labels KB and MB.
    static QString size(qint64 bytes);
    // "Downloading updates (1.5 MB of 12 MB)", or "Downloading updates (2 KB)" without a total.
    static QString sizeLine(qint64 received, qint64 total);
    // "1 second", "60 seconds", "1 minute", "120 minutes", "about 2 hours".
    static QString remaining(qint64 seconds);
    // "speed: 512 kb/s  " for kilobytes (of 1024 bytes) per second.
    static QString speed(double kilobytesPerSecond);
    // "speed: 512 kb/s  Time remaining: 2 minutes": the speed over the last interval between
    // reports, the time left at the average rate since the start. Without a known total, or
    // before any byte arrived, the speed alone. Empty (keep the previous line) when there is
    // nothing sound to show: within the first second, or for an interval of no time.
    static QString rateLine(qint64 intervalBytes, qint64 intervalMs, qint64 received, qint64 total,
                            qint64 sinceStartMs);
    // "total time: 42s    average speed: 122kb/s", both with 3 significant digits; the time
    // alone when the download took no measurable time.
    static QString summary(qint64 elapsedMs, qint64 bytes);
    // The log's line for a retry of the download (Downloader::doRetry): "connection lost,
    // resuming at 734 MB (2 of 5)", "connection lost, starting again (2 of 5)", "wrong part
    // received, starting again (2 of 5)", "server busy, trying again in 4 s (2 of 5)".
    static QString retryLine(Downloader::Retry cause, qint64 resumeAt, int waitMs, int attempt,
                             int attempts);
    // The network error's key name, as the log shows it: "ConnectionRefusedError".
    static QString errorKey(QNetworkReply::NetworkError code);
};

#endif // PROGRESSTEXT_H
