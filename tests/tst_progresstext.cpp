#include "dialog/progresstext.h"

#include <QTest>

#include <limits>

class tst_ProgressText : public QObject
{
    Q_OBJECT

private slots:
    void size_data();
    void size();
    void remaining_data();
    void remaining();
    void speed_data();
    void speed();
    void summary_data();
    void summary();
};

void tst_ProgressText::size_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    const qint64 mib = 1048576;
    QTest::newRow("unknown") << qint64(-1) << "-1 bytes";
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

void tst_ProgressText::remaining_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("negative") << qint64(-30) << "1 second";
    QTest::newRow("0") << qint64(0) << "1 second";
    QTest::newRow("1") << qint64(1) << "1 second";
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
    QTest::newRow("same millisecond")
            << std::numeric_limits<double>::infinity() << "speed: inf kb/s  ";
}

void tst_ProgressText::speed()
{
    QFETCH(double, kilobytesPerSecond);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::speed(kilobytesPerSecond), text);
}

void tst_ProgressText::summary_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("kilobytesPerSecond");
    QTest::addColumn<QString>("text");

    QTest::newRow("5 MiB in 42 s")
            << 42.0 << 5.0 * 1024 / 42 << "total time: 42s    average speed: 122kb/s";
    QTest::newRow("1234 s") << 1234.0 << 0.5 << "total time: 1.23e+03s    average speed: 0.5kb/s";
    QTest::newRow("unknown size") << 2.0 << double(std::numeric_limits<quint64>::max()) / 1024 / 2
                                  << "total time: 2s    average speed: 9.01e+15kb/s";
}

void tst_ProgressText::summary()
{
    QFETCH(double, seconds);
    QFETCH(double, kilobytesPerSecond);
    QFETCH(QString, text);
    QCOMPARE(ProgressText::summary(seconds, kilobytesPerSecond), text);
}

QTEST_GUILESS_MAIN(tst_ProgressText)
#include "tst_progresstext.moc"
