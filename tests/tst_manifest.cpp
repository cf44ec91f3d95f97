#include "road/manifest.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// What a manifest from the network becomes before the dialog shows or compares it.
class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void failedReadKeepsValues();
    void expires_data();
    void expires();
};

namespace {

QByteArray manifest(const QJsonObject &entry, const QString &platform = QStringLiteral("windows"))
{
    return QJsonDocument(QJsonObject { { "updates", QJsonObject { { platform, entry } } } })
            .toJson(QJsonDocument::Compact);
}

} // namespace

void tst_Manifest::read_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<int>("changelogSize");
    QTest::addColumn<int>("changelogLines");

    const int read = int(Manifest::Status::Read);
    const QString cut = QStringLiteral("\u2026");
    QTest::newRow("plain") << manifest({ { "latest-version", "1.2.0" }, { "changelog", "a\nb" } })
                           << read << "1.2.0" << 3 << 2;
    QTest::newRow("other platform only")
            << manifest({ { "latest-version", "1.2.0" } }, QStringLiteral("linux")) << read << ""
            << 0 << 1;
    QTest::newRow("wrong types read as empty")
            << QByteArray(R"({"updates":{"windows":{"latest-version":3,"changelog":[]}}})") << read
            << "" << 0 << 1;
    QTest::newRow("array document") << QByteArray("[1,2]") << read << "" << 0 << 1;
    QTest::newRow("empty body") << QByteArray() << int(Manifest::Status::NotJson) << "" << 0 << 0;
    QTest::newRow("html") << QByteArray("<html>") << int(Manifest::Status::NotJson) << "" << 0 << 0;
    QTest::newRow("nested beyond the parser's depth")
            << QByteArray(100000, '[') << int(Manifest::Status::NotJson) << "" << 0 << 0;
    QTest::newRow("version of 64 characters")
            << manifest({ { "latest-version", QString(64, QLatin1Char('1')) } }) << read
            << QString(64, QLatin1Char('1')) << 0 << 1;
    QTest::newRow("version of a million parts")
            << manifest({ { "latest-version", QString(500000, QLatin1Char('.')) } })
            << int(Manifest::Status::Unusable) << "" << 0 << 0;
    QTest::newRow("address of 3000 characters")
            << manifest({ { "download-url", QString(3000, QLatin1Char('u')) } })
            << int(Manifest::Status::Unusable) << "" << 0 << 0;
    // One line of 900 KB: cut to a line of the longest shown length, marked twice (line, text).
    QTest::newRow("one huge line")
            << manifest({ { "changelog", QString(900000, QLatin1Char('x')) } }) << read << ""
            << Manifest::maxLineCharacters + 1 << 1;
    QTest::newRow("many short lines")
            << manifest({ { "changelog", QString(100000, QLatin1Char('\n')) } }) << read << ""
            << Manifest::maxChangelogLines << Manifest::maxChangelogLines;
    QTest::newRow("many long lines")
            << manifest({ { "changelog",
                            QString(Manifest::maxLineCharacters, QLatin1Char('y')) + '\n'
                                    + QString(Manifest::maxLineCharacters, QLatin1Char('y')) + '\n'
                                    + QString(40000, QLatin1Char('z')) } })
            << read << ""
            << 2 * Manifest::maxLineCharacters + 1 + 1 + Manifest::maxLineCharacters + 1 << 3;
}

void tst_Manifest::read()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    Manifest m;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(int(m.read(body, QStringLiteral("windows"))), status);
    // However large or odd the body, reading it is a matter of milliseconds.
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m.errorString().isEmpty(), status == int(Manifest::Status::Read));
    if (status != int(Manifest::Status::Read))
        return;
    QTEST(m.latestVersion, "latest");
    QTEST(m.changelog.size(), "changelogSize");
    QTEST(m.changelog.split(QLatin1Char('\n')).size(), "changelogLines");
    QVERIFY(m.changelog.size() <= Manifest::maxChangelogCharacters + 1);
}

void tst_Manifest::failedReadKeepsValues()
{
    Manifest m;
    QCOMPARE(m.read(manifest({ { "latest-version", "2.0" }, { "modify-time", "today" } }),
                    QStringLiteral("windows")),
             Manifest::Status::Read);
    QCOMPARE(m.read("{", QStringLiteral("windows")), Manifest::Status::NotJson);
    QCOMPARE(m.read(manifest({ { "latest-version", QString(65, QLatin1Char('9')) } }),
                    QStringLiteral("windows")),
             Manifest::Status::Unusable);
    QCOMPARE(m.latestVersion, QStringLiteral("2.0"));
    QCOMPARE(m.modifyTime, QStringLiteral("today"));
}

// Only make-release's own form is a time; anything else is there but unreadable.
void tst_Manifest::expires_data()
{
    QTest::addColumn<QByteArray>("member"); // the top-level "expires" as JSON, or none
    QTest::addColumn<bool>("readable");

    QTest::newRow("none") << QByteArray() << false;
    QTest::newRow("as make-release writes it") << QByteArray("\"2026-12-01T13:05:09Z\"") << true;
    QTest::newRow("date only") << QByteArray("\"2026-12-01\"") << false;
    QTest::newRow("another zone") << QByteArray("\"2026-12-01T13:05:09+01:00\"") << false;
    QTest::newRow("milliseconds") << QByteArray("\"2026-12-01T13:05:09.000Z\"") << false;
    QTest::newRow("hour 24") << QByteArray("\"2026-12-01T24:00:00Z\"") << false;
    QTest::newRow("February 30") << QByteArray("\"2026-02-30T00:00:00Z\"") << false;
    QTest::newRow("a megabyte") << '"' + QByteArray(1 << 20, '2') + '"' << false;
}

void tst_Manifest::expires()
{
    QFETCH(QByteArray, member);
    QFETCH(bool, readable);
    const QByteArray body = member.isEmpty() ? QByteArray("{}") : "{\"expires\": " + member + '}';
    Manifest m;
    QCOMPARE(m.read(body, QStringLiteral("windows")), Manifest::Status::Read);
    QCOMPARE(m.hasExpires, !member.isEmpty());
    QCOMPARE(m.expires.isValid(), readable);
    if (readable)
        QCOMPARE(m.expires, QDateTime(QDate(2026, 12, 1), QTime(13, 5, 9), Qt::UTC));
}

QTEST_APPLESS_MAIN(tst_Manifest)
#include "tst_manifest.moc"
