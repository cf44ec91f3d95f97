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

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
