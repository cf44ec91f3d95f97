#include "app/builtintrust.h"
#include "httptestserver.h"
#include "testplatform.h"
#include "testsupport.h"

#include <QColor>
#include <QTest>

// Runs the real start-up in a child process and reads what it reports of the dialog.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void versionArgument_data();
    void versionArgument();
    void themeAppliedBeforeDialog();
    void missingTheme();
    void firstFrameHasThePicture_data();
    void firstFrameHasThePicture();
    void checkAndDownloadThroughSystemProxy();
    void language_data();
    void language();
    void builtInCertificates_data();
    void builtInCertificates();
};

void tst_Startup::versionArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("version");

    QTest::newRow("one") << QStringList { "1.4.2" } << "1.4.2";
    QTest::newRow("several") << QStringList { "1.4.2", "2.0.0", "--extra" } << "1.4.2";
    QTest::newRow("framework option first")
            << QStringList { "-style", "fusion", "2.0.1" } << "2.0.1";
    QTest::newRow("utf-8") << QStringList { QString::fromUtf8("1.0-\xc3\x9f\xe6\x9b\xb4") }
                           << QString::fromUtf8("1.0-\xc3\x9f\xe6\x9b\xb4");
    QTest::newRow("none keeps the default") << QStringList {} << "0.0.0";
}

void tst_Startup::versionArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, version);

    const ProbeRun run = ProbeRun::run(QStringLiteral(STARTUP_PROBE), arguments);
    QCOMPARE(run.exitCode, 0); // "cancel" ends the event loop normally
    QCOMPARE(run.value(QStringLiteral("visible")), QStringLiteral("1"));
    QCOMPARE(run.value(QStringLiteral("version")), version);
}

void tst_Startup::themeAppliedBeforeDialog()
{
    const ProbeRun run = ProbeRun::run(QStringLiteral(STARTUP_PROBE), { "1.0.0" });
    QCOMPARE(run.value(QStringLiteral("theme-before-dialog")), QStringLiteral("1"));
    QVERIFY(!run.lines.contains(QStringLiteral("Unable to set stylesheet, file not found")));
    const QColor background(run.value(QStringLiteral("background")));
    QVERIFY2(background.isValid() && background.lightness() < 80,
             qPrintable(run.value(QStringLiteral("background"))));
}

void tst_Startup::missingTheme()
{
    const ProbeRun run = ProbeRun::run(QStringLiteral(STARTUP_PROBE_NOTHEME), { "1.0.0" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.count(QStringLiteral("Unable to set stylesheet, file not found")), 1);
    QCOMPARE(run.lines.first(), QStringLiteral("Unable to set stylesheet, file not found"));
    QCOMPARE(run.value(QStringLiteral("theme-before-dialog")), QStringLiteral("0"));
    QCOMPARE(run.value(QStringLiteral("visible")), QStringLiteral("1"));
    QCOMPARE(run.value(QStringLiteral("version")), QStringLiteral("1.0.0"));
    // The platform's own look is light.
    QVERIFY(QColor(run.value(QStringLiteral("background"))).lightness() > 128);
}

void tst_Startup::firstFrameHasThePicture_data()
{
    QTest::addColumn<QByteArray>("scale");
    // The offscreen screen's 100 dpi give it a ratio of 1.04: the label lies across pixels.
    QTest::newRow("offscreen's own") << QByteArray();
    QTest::newRow("100 %") << QByteArray("1");
    QTest::newRow("200 %") << QByteArray("2");
}

// The picture is whole in the first frame, as its label draws it from the file. The variable the
// start-up sets for the platform plugin is not left for the programs it starts.
void tst_Startup::firstFrameHasThePicture()
{
    QFETCH(QByteArray, scale);
    if (!scale.isEmpty()) {
        // That scale alone, not multiplied by the screen's density.
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
        qputenv("QT_SCALE_FACTOR", scale);
    }
    const ProbeRun run = ProbeRun::run(QStringLiteral(STARTUP_PROBE), { "1.0.0" });
    qunsetenv("QT_ENABLE_HIGHDPI_SCALING");
    qunsetenv("QT_SCALE_FACTOR");
    const QString difference = run.value(QStringLiteral("picture-difference"));
    QVERIFY2(QStringList({ "0", "1", "2" }).contains(difference), qPrintable(difference));
    QCOMPARE(run.value(QStringLiteral("gl-integration-set")),
             QString::number(qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")));
}

void tst_Startup::checkAndDownloadThroughSystemProxy()
{
    // Behind a proxy the program never resolves the server's name itself; a made-up one shows
    // that. Loopback names would not be proxied at all.
    HttpTestServer proxy;
    const QString server = QStringLiteral("http://updates.test");
    HttpTestServer::Response manifest;
    manifest.body = testsupport::manifest({ { "latest-version", "1.3.0" },
                                            { "download-url", server + QLatin1String("/inc.zip") },
                                            { "full-url", server + QLatin1String("/full.exe") } });
    proxy.respond(server + QLatin1String("/updates.json"), manifest);
    // A package cut short, so that the run ends in a failure instead of a question.
    HttpTestServer::Response package;
    package.generatedSize = 1000;
    package.stopAfter = 100;
    proxy.respond(server + QLatin1String("/inc.zip"), package);

    qputenv("PROBE_MANIFEST_URL", (server + QLatin1String("/updates.json")).toUtf8());
    const ProbeRun run = [&] {
        const testplatform::SystemProxy systemProxy(proxy.url(QString()));
        return ProbeRun::run(QStringLiteral(STARTUP_PROBE), { "1.2.3" });
    }();
    qunsetenv("PROBE_MANIFEST_URL");

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.value(QStringLiteral("system-proxy")), QStringLiteral("1"));
    QCOMPARE(run.value(QStringLiteral("update-ended")), QStringLiteral("1"));
    QCOMPARE(proxy.requests(),
             QStringList({ server + QLatin1String("/updates.json"),
                           server + QLatin1String("/inc.zip") }));
    const QStringList log = run.values(QStringLiteral("log"));
    QVERIFY2(log.contains(QStringLiteral("latest version : v1.3.0")), qPrintable(log.join('|')));
    QCOMPARE(log.value(log.size() - 2), QStringLiteral("download failed"));
}

void tst_Startup::language_data()
{
    QTest::addColumn<QByteArray>("locale"); // LC_ALL and LANG
    QTest::addColumn<QByteArray>("languages"); // LANGUAGE, the order of the UI languages
    QTest::addColumn<QString>("installed"); // 1.3.0 is the latest; 0.0.0 finds no manifest
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("yes");

    const QStringList upToDate { "current software is up-to-date", "version: v1.3.0",
                                 "click cancel button to quit" };
    const QStringList checkError { "check error", "the server answered 404 Not Found" };
    const QStringList german { QString::fromUtf8("Die Software ist auf dem neuesten Stand"),
                               "Version: v1.3.0",
                               QString::fromUtf8("Klicken Sie auf \u201eAbbrechen\u201c, um zu "
                                                 "beenden") };
    const QStringList germanError { QString::fromUtf8("Fehler bei der Pr\u00fcfung"),
                                    "der Server antwortete mit 404 Not Found" };
    const auto row = [](const char *name, const char *locale, const char *languages,
                        const char *installed, const QStringList &log, bool inGerman) {
        QTest::newRow(name) << QByteArray(locale) << QByteArray(languages) << installed << log
                            << (inGerman ? "Aktualisieren" : "update")
                            << (inGerman ? "&Ja" : "&Yes");
    };
    row("German, up to date", "de_DE.UTF-8", "", "1.3.0", german, true);
    row("Austrian German finds German, check error", "de_AT.UTF-8", "", "0.0.0", germanError, true);
    row("French, up to date", "fr_FR.UTF-8", "", "1.3.0", upToDate, false);
    row("French, check error", "fr_FR.UTF-8", "", "0.0.0", checkError, false);
    row("English, up to date", "en_US.UTF-8", "", "1.3.0", upToDate, false);
    // The order of several languages is LANGUAGE's, which only Unix reads.
#ifndef Q_OS_WIN
    row("English before German", "de_DE.UTF-8", "en_GB:de_DE", "1.3.0", upToDate, false);
    row("French before German", "fr_FR.UTF-8", "fr_FR:de_DE", "1.3.0", german, true);
#endif
}

// The system's locale is read once at start, so each language is a child of its own.
void tst_Startup::language()
{
    QFETCH(QByteArray, locale);
    QFETCH(QByteArray, languages);
    QFETCH(QString, installed);
    QFETCH(QStringList, log);
    QFETCH(QString, button);
    QFETCH(QString, yes);
#ifdef Q_OS_WIN
    // Windows takes the UI language from the user's settings, not from a child's environment.
    if (button != QLatin1String("update"))
        QSKIP("a Windows program's UI language is the user's setting, not its environment's");
#endif

    HttpTestServer server;
    HttpTestServer::Response manifest;
    manifest.body = testsupport::manifest({ { "latest-version", "1.3.0" },
                                            { "download-url", "http://127.0.0.1:9/inc.zip" },
                                            { "full-url", "http://127.0.0.1:9/full.exe" } });
    server.respond(QStringLiteral("/updates.json"), manifest);
    const QString path = installed == QLatin1String("0.0.0") ? "/missing.json" : "/updates.json";
    const char *const names[] = { "LC_ALL", "LANG", "LANGUAGE", "PROBE_MANIFEST_URL" };
    const QByteArray values[] = { locale, locale, languages, server.url(path).toString().toUtf8() };
    QByteArray kept[4];
    for (int i = 0; i < 4; ++i) {
        kept[i] = qEnvironmentVariableIsSet(names[i]) ? qgetenv(names[i]) : QByteArray();
        qputenv(names[i], values[i]);
    }
    const ProbeRun run = ProbeRun::run(QStringLiteral(STARTUP_PROBE), { installed });
    for (int i = 0; i < 4; ++i)
        kept[i].isNull() ? qunsetenv(names[i]) : qputenv(names[i], kept[i]);

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.values(QStringLiteral("log")), log);
    QCOMPARE(run.value(QStringLiteral("button")), button);
    QCOMPARE(run.value(QStringLiteral("yes")), yes);
}

QTEST_GUILESS_MAIN(tst_Startup)
// What UPDATER_CA_FILE compiles in is taken whole or not at all: a certificate Qt cannot read
// must not leave the others, or none, which would mean the system's store.
void tst_Startup::builtInCertificates_data()
{
    using testsupport::fixture;
    using testsupport::readFile;
    const QByteArray ca = readFile(fixture(QStringLiteral("tls/ca.pem")));
    const QByteArray server = readFile(fixture(QStringLiteral("tls/server.pem")));
    QByteArray damaged = server;
    damaged[damaged.indexOf('\n') + 20] = '*';
    QTest::addColumn<QByteArray>("pem");
    QTest::addColumn<int>("taken");
    QTest::newRow("one") << ca << 1;
    QTest::newRow("two, with text between") << ca + "# the server\n" + server << 2;
    QTest::newRow("one damaged") << ca + damaged << 0;
    QTest::newRow("one cut short") << ca + server.left(server.size() / 2) << 0;
    QTest::newRow("a key only") << readFile(fixture(QStringLiteral("tls/server.key"))) << 0;
}

void tst_Startup::builtInCertificates()
{
    QFETCH(QByteArray, pem);
    QFETCH(int, taken);
    QCOMPARE(BuiltInTrust::certificatesOf(pem).size(), taken);
}

#include "tst_startup.moc"
