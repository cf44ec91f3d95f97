#include "road/progresstext.h"

#include <QTest>

#include <limits>

class tst_ProgressText : public QObject
{
    Q_OBJECT

private slots:
    void size_data();
    void size();
    void sizeLine_data();
    void sizeLine();
    void percent_data();
    void percent();
    void remaining_data();
    void remaining();
    void speed_data();
    void speed();
    void rateLine_data();
    void rateLine();
    void summary_data();
    void summary();
    void retryLine_data();
    void retryLine();
};

namespace {
const qint64 mib = 1048576;
const qint64 maxBytes = std::numeric_limits<qint64>::max();
} // namespace

void tst_ProgressText::size_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << qint64(0) << "0 bytes";
    QTest::newRow("largest in bytes") << qint64(1023) << "1023 bytes";
    QTest::newRow("one KB") << qint64(1024) << "1 KB";
    QTest::newRow("KB rounds down") << qint64(2047) << "1 KB";
    QTest::newRow("largest in KB") << mib - 1 << "1023 KB";
    QTest::newRow("one MB") << mib << "1 MB";
    QTest::newRow("fraction") << mib * 3 / 2 << "1.5 MB";
    QTest::newRow("six digits") << 10 * mib + 1 << "10 MB";
    QTest::newRow("quarter") << mib * 61 / 4 << "15.25 MB";
    QTest::newRow("exponent") << mib * 1234567 << "1.23457e+06 MB";
}

void tst_ProgressText::size()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::size(bytes), text);
}

void tst_ProgressText::sizeLine_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("text");

    QTest::newRow("known") << mib * 3 / 2 << 12 * mib << "Downloading updates (1.5 MB of 12 MB)";
    QTest::newRow("unknown: received alone")
            << qint64(2048) << qint64(-1) << "Downloading updates (2 KB)";
    QTest::newRow("empty body") << qint64(0) << qint64(0) << "Downloading updates (0 bytes)";
}

void tst_ProgressText::sizeLine()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::sizeLine(received, total), text);
}

void tst_ProgressText::percent_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent");

    QTest::newRow("a third truncates") << qint64(1) << qint64(3) << 33;
    QTest::newRow("complete") << qint64(800) << qint64(800) << 100;
    QTest::newRow("more than announced") << qint64(900) << qint64(800) << 100;
    QTest::newRow("unknown is busy") << qint64(2048) << qint64(-1) << -1;
    QTest::newRow("zero is busy") << qint64(0) << qint64(0) << -1;
    // received * 100 overflows 64 bits here.
    QTest::newRow("huge counts") << maxBytes / 2 << maxBytes << 50;
}

void tst_ProgressText::percent()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    QCOMPARE(ProgressText::percent(received, total), percent);
}

void tst_ProgressText::remaining_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("negative") << qint64(-30) << "1 second";
    QTest::newRow("0") << qint64(0) << "1 second";
    QTest::newRow("2") << qint64(2) << "2 seconds";
    QTest::newRow("60") << qint64(60) << "60 seconds";
    QTest::newRow("61") << qint64(61) << "1 minute";
    QTest::newRow("89") << qint64(89) << "1 minute";
    QTest::newRow("90") << qint64(90) << "2 minutes";
    QTest::newRow("7200") << qint64(7200) << "120 minutes";
    QTest::newRow("7201") << qint64(7201) << "about 2 hours";
    QTest::newRow("9000") << qint64(9000) << "about 3 hours";
}

void tst_ProgressText::remaining()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::remaining(seconds), text);
}

void tst_ProgressText::speed_data()
{
    QTest::addColumn<double>("kilobytesPerSecond");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole") << 512.0 << "speed: 512 kb/s  ";
    QTest::newRow("six digits") << 1234.56789 << "speed: 1234.57 kb/s  ";
    QTest::newRow("large") << 12345678.0 << "speed: 1.23457e+07 kb/s  ";
}

void tst_ProgressText::speed()
{
    QFETCH(double, kilobytesPerSecond);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::speed(kilobytesPerSecond), text);
}

void tst_ProgressText::rateLine_data()
{
    QTest::addColumn<qint64>("intervalBytes");
    QTest::addColumn<qint64>("intervalMs");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("sinceStartMs");
    QTest::addColumn<QString>("text");

    // 1 MiB in 2 s leaves 2 MiB: 4 s at the average rate; the last 512 KiB took 1 s.
    QTest::newRow("known total") << mib / 2 << qint64(1000) << mib << 3 * mib << qint64(2000)
                                 << "speed: 512 kb/s  Time remaining: 4 seconds";
    QTest::newRow("minutes at a slow average")
            << qint64(1024) << qint64(250) << qint64(10240) << 10240 + qint64(1024) * 100 * 60
            << qint64(10000) << "speed: 4 kb/s  Time remaining: 100 minutes";
    QTest::newRow("first second: keep")
            << qint64(4096) << qint64(500) << qint64(4096) << mib << qint64(999) << QString();
    QTest::newRow("same millisecond: keep, no inf")
            << qint64(4096) << qint64(0) << mib << 3 * mib << qint64(5000) << QString();
    QTest::newRow("nothing in no time: keep, no nan")
            << qint64(0) << qint64(0) << qint64(0) << 3 * mib << qint64(5000) << QString();
    QTest::newRow("unknown total: speed alone") << qint64(2048) << qint64(1000) << 5 * mib
                                                << qint64(-1) << qint64(3000) << "speed: 2 kb/s  ";
    QTest::newRow("no byte yet: speed alone")
            << qint64(0) << qint64(1500) << qint64(0) << mib << qint64(1500) << "speed: 0 kb/s  ";
    QTest::newRow("more than announced: 1 second")
            << qint64(1024) << qint64(1000) << 2 * mib << mib << qint64(2000)
            << "speed: 1 kb/s  Time remaining: 1 second";
    // A trickle against a huge announced size must not overflow into a negative time.
    QTest::newRow("trickle against a huge total")
            << qint64(1) << qint64(1000) << qint64(1) << maxBytes << qint64(3600000)
            << "speed: 0.000976563 kb/s  Time remaining: about 277777778 hours";
}

void tst_ProgressText::rateLine()
{
    QFETCH(qint64, intervalBytes);
    QFETCH(qint64, intervalMs);
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(qint64, sinceStartMs);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::rateLine(intervalBytes, intervalMs, received, total, sinceStartMs),
             text);
}

void tst_ProgressText::summary_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("5 MiB in 42 s")
            << qint64(42000) << 5 * mib << "total time: 42s    average speed: 122kb/s";
    QTest::newRow("1234 s") << qint64(1234000) << qint64(631808)
                            << "total time: 1.23e+03s    average speed: 0.5kb/s";
    QTest::newRow("within the first second") << qint64(250) << qint64(512 * 1024)
                                             << "total time: 0.25s    average speed: 2.05e+03kb/s";
    QTest::newRow("no measurable time: no inf") << qint64(0) << mib << "total time: 0s";
    QTest::newRow("nothing arrived")
            << qint64(1500) << qint64(0) << "total time: 1.5s    average speed: 0kb/s";
}

void tst_ProgressText::summary()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::summary(elapsedMs, bytes), text);
}

void tst_ProgressText::retryLine_data()
{
    QTest::addColumn<Downloader::Retry>("cause");
    QTest::addColumn<qint64>("resumeAt");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<QString>("text");
    using R = Downloader::Retry;

    QTest::newRow("resuming") << R::ConnectionLost << 734 * mib << 2000
                              << "connection lost, resuming at 734 MB (2 of 5)";
    QTest::newRow("from zero") << R::ConnectionLost << qint64(0) << 2000
                               << "connection lost, starting again (2 of 5)";
    QTest::newRow("wrong part") << R::PartRefused << qint64(0) << 2000
                                << "wrong part received, starting again (2 of 5)";
    QTest::newRow("busy") << R::ServerBusy << mib << 4000
                          << "server busy, trying again in 4 s (2 of 5)";
    QTest::newRow("busy, under a second: not 0 s")
            << R::ServerBusy << mib << 20 << "server busy, trying again in 1 s (2 of 5)";
}

void tst_ProgressText::retryLine()
{
    QFETCH(Downloader::Retry, cause);
    QFETCH(qint64, resumeAt);
    QFETCH(int, waitMs);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::retryLine(cause, resumeAt, waitMs, 2, 5), text);
}

QTEST_GUILESS_MAIN(tst_ProgressText)
#include "tst_progresstext.moc"
