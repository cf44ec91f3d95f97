#include "httptestserver.h"
#include "testplatform.h"
#include "testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

// The program's command line, run in a copy of the program placed in a temporary application
// directory, against a server on 127.0.0.1: its exit status, its output and the folder after it.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

namespace {

constexpr int deadlineMs = 120000;

enum class After { Unchanged, Updated, UpdatedAndStarted };

HttpTestServer::Response answer(const QByteArray &body, int status = 200)
{
    HttpTestServer::Response response;
    response.status = status;
    response.body = body;
    return response;
}

} // namespace

Q_DECLARE_METATYPE(After)

void tst_CommandLine::run_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("served"); // whether the manifest and the package are there
    QTest::addColumn<int>("status");
    // Standard output, SERVER standing for the server's address; empty for none.
    QTest::addColumn<QStringList>("output");
    QTest::addColumn<After>("after");

    const auto rows = [](const char *name, const QStringList &arguments, bool served, int status,
                         const QStringList &output, After after) {
        QTest::newRow(name) << arguments << served << status << output << after;
    };
    rows("check, up to date", { "--check", "1.1.0" }, true, 0,
         { "installed: 1.1.0", "latest: 1.1.0", "package: none" }, After::Unchanged);
    rows("check, zip", { "--check", "1.0.0" }, true, 10,
         { "installed: 1.0.0", "latest: 1.1.0", "package: zip SERVER/Morvane-1.1.0.zip" },
         After::Unchanged);
    rows("check, full installer", { "--check=0.0.0" }, true, 10,
         { "installed: 0.0.0", "latest: 1.1.0", "package: full installer SERVER/Setup-1.2.exe" },
         After::Unchanged);
    rows("check, no manifest", { "--check", "1.0.0" }, false, 1, {}, After::Unchanged);
    rows("update, nothing to do", { "--update", "1.1.0" }, true, 0,
         { "up to date: 1.1.0 is installed, the latest is 1.1.0" }, After::Unchanged);
    rows("update, no start", { "--update", "1.0.0", "--no-start" }, true, 0, { "updated to 1.1.0" },
         After::Updated);
    rows("update and start", { "--update", "1.0.0", "--log", "LOG" }, true, 0,
         { "updated to 1.1.0, Morvane started" }, After::UpdatedAndStarted);
    rows("update, no package", { "--update", "1.0.0" }, false, 1, {}, After::Unchanged);
    rows("update, two modes", { "--update", "1.0.0", "--check", "1.0.0" }, true, 1, {},
         After::Unchanged);
    rows("version missing", { "--check" }, true, 1, {}, After::Unchanged);
    rows("unknown option", { "--frobnicate" }, true, 1, {}, After::Unchanged);
    rows("no-start alone", { "--no-start" }, true, 1, {}, After::Unchanged);
    rows("version", { "--version" }, true, 0,
         { "updater 0.0.0", "server: 127.0.0.1", "unsigned: updates are not authenticated" },
         After::Unchanged);
}

void tst_CommandLine::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, served);
    QFETCH(int, status);
    QFETCH(QStringList, output);
    QFETCH(After, after);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkdir(QStringLiteral("app")));
    const QDir app(root.filePath(QStringLiteral("app")));
    const QString updater = app.filePath(testplatform::programFile(QStringLiteral("updater")));
    QVERIFY(QFile::copy(QStringLiteral(COMMAND_PROBE), updater));
    QVERIFY(writeFile(app.filePath(QStringLiteral("Morvane.exe")), marker("1.0.0", app.path()),
                      0755));
    HttpTestServer server;
    const QString base = server.url(QString()).toString();
    if (served) {
        server.respond(QStringLiteral("/updates.json"),
                       answer(manifest({ { "latest-version", "1.1.0" },
                                         { "download-url", base + "/Morvane-1.1.0.zip" },
                                         { "full-url", base + "/Setup-1.2.exe" } })));
        server.respond(QStringLiteral("/Morvane-1.1.0.zip"),
                       answer(makeZip({ { "Morvane.exe", marker("1.1.0", app.path()),
                                          ZipEntry::File, 0755 } })));
    }
    const QString log = root.filePath(QStringLiteral("log.txt"));
    arguments.replaceInStrings(QStringLiteral("LOG"), log);
    output.replaceInStrings(QStringLiteral("SERVER"), base);
    const QString downloads = QStringLiteral("updater-downloads");
    const Tree before = snapshot(app.path(), downloads);

    qputenv("PROBE_MANIFEST_URL", (base + QLatin1String("/updates.json")).toUtf8());
    qputenv("PROBE_DEADLINE_MS", QByteArray::number(deadlineMs));
    const ProbeRun run = ProbeRun::run(updater, arguments, root.path(), deadlineMs + 30000);
    QCOMPARE(run.exitCode, status);
    QCOMPARE(run.lines, output);

    const QByteArray morvane = readFile(app.filePath(QStringLiteral("Morvane.exe")));
    if (after == After::Unchanged) {
        QCOMPARE(snapshot(app.path(), downloads), before);
    } else {
        QCOMPARE(morvane, marker("1.1.0", app.path()));
    }
    if (after == After::UpdatedAndStarted) {
        QTRY_COMPARE_WITH_TIMEOUT(readFile(app.filePath(QStringLiteral("started"))),
                                  QByteArray("1.1.0\n"), deadlineMs);
        // Every line of the log starts with its time.
        const QString lines = QString::fromUtf8(readFile(log));
        QVERIFY(lines.contains(QLatin1String("Z download finished\n")));
        const QRegularExpression timed(
                QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z .*\n)+$"));
        QVERIFY2(timed.match(lines).hasMatch(), qPrintable(lines));
    } else {
        QVERIFY(!QFile::exists(app.filePath(QStringLiteral("started"))));
    }
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
