#include "dialog/progressmeter.h"

#include "road/progresstext.h"

void ProgressMeter::start()
{
    clock.start();
    received = 0;
    lastReportMs = 0;
    lastReportBytes = 0;
}

ProgressMeter::Texts ProgressMeter::report(qint64 received, qint64 total)
{
    this->received = received;
    const qint64 nowMs = clock.elapsed();
    const QString rate = ProgressText::rateLine(received - lastReportBytes, nowMs - lastReportMs,
                                                received, total, nowMs);
    // Reports within one millisecond add their bytes to the next interval that has a length.
    if (nowMs > lastReportMs) {
        lastReportMs = nowMs;
        lastReportBytes = received;
    }
    return { ProgressText::sizeLine(received, total), rate };
}

QString ProgressMeter::summary() const
{
    return ProgressText::summary(clock.elapsed(), received);
}
