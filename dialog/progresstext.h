#ifndef PROGRESSTEXT_H
#define PROGRESSTEXT_H

#include <QString>

// The texts of the download progress display. Words are translated in the dialog's context.
class ProgressText
{
public:
    // "512 bytes", "1023 KB", "1.5 MB": 1024-based units under the labels KB and MB.
    static QString size(qint64 bytes);
    // "1 second", "60 seconds", "1 minute", "120 minutes", "about 2 hours".
    static QString remaining(qint64 seconds);
    // "speed: 512 kb/s  " for kilobytes (of 1024 bytes) per second.
    static QString speed(double kilobytesPerSecond);
    // "total time: 42s    average speed: 122kb/s", both with 3 significant digits.
    static QString summary(double seconds, double kilobytesPerSecond);
};

#endif // PROGRESSTEXT_H
