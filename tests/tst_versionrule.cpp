#include "road/versionrule.h"

#include <QTest>

#include <chrono>

class tst_VersionRule : public QObject
{
    Q_OBJECT

private slots:
    void offersUpdate_data();
    void offersUpdate();
    void isNewer_data();
    void isNewer();
    void hugeTextsStayLinear_data();
    void hugeTextsStayLinear();
};

void tst_VersionRule::offersUpdate_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("needFull");

    QTest::newRow("empty field reads 0.0") << "0.0"
                                           << "1.0.0" << true << true;
    QTest::newRow("all zeros") << "0.0.0"
                               << "0.0.0" << false << true;
    QTest::newRow("00 is not 0") << "00.0"
                                 << "1.0" << true << false;
    QTest::newRow("equal") << "1.2.3"
                           << "1.2.3" << false << false;
    QTest::newRow("numeric, not textual") << "1.2.3"
                                          << "1.2.10" << true << false;
    QTest::newRow("older latest") << "1.10.0"
                                  << "1.9.0" << false << false;
    QTest::newRow("a greater later part is not newer") << "2.0.0"
                                                       << "1.5.0" << false << false;
    QTest::newRow("fewer local parts") << "1.2"
                                       << "1.2.0" << false << false;
    QTest::newRow("more local parts") << "1.2.3"
                                      << "1.2" << false << false;
    QTest::newRow("not a number is not usable") << "1.x"
                                                << "2.0" << false << false;
    QTest::newRow("empty part is not usable") << "1.0.2"
                                              << "1..3" << false << false;
    QTest::newRow("beyond nine digits is not usable") << "1.0"
                                                      << "1.4294967296" << false << false;
    QTest::newRow("no platform entry") << "1.2.3"
                                       << "" << false << false;
}

void tst_VersionRule::offersUpdate()
{
    QFETCH(QString, local);
    QFETCH(QString, latest);
    QFETCH(bool, offered);
    QFETCH(bool, needFull);

    bool full = !needFull;
    QCOMPARE(VersionRule::offersUpdate(local, latest, &full), offered);
    QCOMPARE(full, needFull);
}

void tst_VersionRule::isNewer_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<bool>("newer");

    QTest::newRow("greater minor") << "1.2.3"
                                   << "1.3.0" << true;
    QTest::newRow("numeric, not textual") << "1.2.3"
                                          << "1.2.10" << true;
    QTest::newRow("older latest") << "1.10.0"
                                  << "1.9.0" << false;
    QTest::newRow("a greater later part does not count") << "2.0"
                                                         << "1.5" << false;
    QTest::newRow("missing part is 0") << "1.2"
                                       << "1.2.0" << false;
    QTest::newRow("missing part is 0, other way") << "1.2.0"
                                                  << "1.2" << false;
    QTest::newRow("extra non-zero part") << "1.2"
                                         << "1.2.0.1" << true;
    QTest::newRow("leading zeros") << "1.02"
                                   << "1.10" << true;
    QTest::newRow("nine digits") << "1.999999998"
                                 << "1.999999999" << true;
    // Refusals: nothing sound to compare, so nothing is offered.
    QTest::newRow("ten digits refused") << "1.0"
                                        << "1.1000000000" << false;
    QTest::newRow("letters refused") << "1.0"
                                     << "2.0-beta" << false;
    QTest::newRow("empty part refused") << "1.0"
                                        << "2..0" << false;
    QTest::newRow("trailing dot refused") << "1.0"
                                          << "2." << false;
    QTest::newRow("empty latest refused") << "1.0"
                                          << "" << false;
    QTest::newRow("sign refused") << "1.0"
                                  << "+2.0" << false;
    QTest::newRow("space refused") << "1.0"
                                   << " 2.0" << false;
    QTest::newRow("non-ASCII digit refused") << "1.0" << QString::fromUtf8("\u0662.0") << false;
    QTest::newRow("broken local refused") << "x"
                                          << "9.0" << false;
}

void tst_VersionRule::isNewer()
{
    QFETCH(QString, local);
    QFETCH(QString, latest);
    QFETCH(bool, newer);
    QCOMPARE(VersionRule::isNewer(local, latest), newer);
}

void tst_VersionRule::hugeTextsStayLinear_data()
{
    QTest::addColumn<QString>("latest");

    const int n = 4 * 1024 * 1024;
    QTest::newRow("dots") << QString(n, QLatin1Char('.'));
    QTest::newRow("many parts") << QStringLiteral("1.").repeated(n / 2) + QLatin1Char('1');
    QTest::newRow("one long number") << QString(n, QLatin1Char('9'));
}

void tst_VersionRule::hugeTextsStayLinear()
{
    QFETCH(QString, latest);
    // A quadratic scan of millions of characters would take minutes.
    const auto start = std::chrono::steady_clock::now();
    VersionRule::isNewer(latest, latest);
    VersionRule::offersUpdate(latest, latest);
    VersionRule::offersUpdate(QStringLiteral("1.0"), latest);
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(20));
}

QTEST_GUILESS_MAIN(tst_VersionRule)
#include "tst_versionrule.moc"
