#ifndef PROGRESSMETER_H
#define PROGRESSMETER_H

#include <QElapsedTimer>
#include <QString>

// The clock and the counts of one download, turned into the texts of ProgressText: one meter per
// download, from the press that started it to its end.
class ProgressMeter
{
public:
    struct Texts
    {
        QString size; // "Downloading updates (1.5 MB of 12 MB)"
        // The speed and the time left; empty when there is nothing sound to show yet (the
        // previous line stays).
        QString rate;
    };

    // A new download: the clock starts and the counts go back to zero.
    void start();
    // The texts for a report of the downloader.
    Texts report(qint64 received, qint64 total);
    // The summary at the end: the time taken and the average speed.
    QString summary() const;

private:
    QElapsedTimer clock;
    qint64 received = 0;
    // The previous report, for the speed over the last interval.
    qint64 lastReportMs = 0;
    qint64 lastReportBytes = 0;
};

#endif // PROGRESSMETER_H
