#include "httptestserver.h"
#include "testplatform.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonObject>
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
// What the server has: nothing, the zip and the full installer, and also a delta from 1.0.0 that
// fits the installed Morvane or one that does not.
enum class Served { Nothing, Zip, Delta, DeltaMisfit };

HttpTestServer::Response answer(const QByteArray &body, int status = 200)
{
    HttpTestServer::Response response;
    response.status = status;
    response.body = body;
    return response;
}

void serve(HttpTestServer &server, const QString &app, Served served)
{
    const QString base = server.url(QString()).toString();
    QJsonObject entry { { "latest-version", "1.1.0" },
                        { "download-url", base + "/Morvane-1.1.0.zip" },
                        { "full-url", base + "/Setup-1.2.exe" } };
    if (served == Served::Delta || served == Served::DeltaMisfit) {
        entry.insert("delta-url", base + "/Morvane-1.0.0-1.1.0.delta.zip");
        entry.insert("delta-from", "1.0.0");
    }
    server.respond(QStringLiteral("/updates.json"), answer(manifest(entry)));
    const QByteArray morvane = marker("1.1.0", app);
    server.respond(QStringLiteral("/Morvane-1.1.0.zip"),
                   answer(makeZip({ { "Morvane.exe", morvane, ZipEntry::File, 0755 },
                                    { "docs/notes.txt", "notes", ZipEntry::File, 0644 } })));
    server.respond(QStringLiteral("/Setup-1.2.exe"), answer(marker("full", app)));
    const QByteArray installed = served == Served::Delta ? marker("1.0.0", app) : "another build";
    server.respond(QStringLiteral("/Morvane-1.0.0-1.1.0.delta.zip"),
                   answer(deltaZip("1.0.0", "1.1.0",
                                   { { "Morvane.exe", installed, morvane },
                                     { "plugins/new.dll", QByteArray(), "new", false } })));
}

} // namespace

Q_DECLARE_METATYPE(After)
Q_DECLARE_METATYPE(Served)

void tst_CommandLine::run_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Served>("served");
    QTest::addColumn<int>("status");
    // Standard output, SERVER standing for the server's address; empty for none.
    QTest::addColumn<QStringList>("output");
    QTest::addColumn<After>("after");

    const Served zip = Served::Zip;
    const Served none = Served::Nothing;
    const auto rows = [](const char *name, const QStringList &arguments, Served served, int status,
                         const QStringList &output, After after) {
        QTest::newRow(name) << arguments << served << status << output << after;
    };
    rows("check, up to date", { "--check", "1.1.0" }, zip, 0,
         { "installed: 1.1.0", "latest: 1.1.0", "package: none" }, After::Unchanged);
    rows("check, zip", { "--check", "1.0.0" }, zip, 10,
         { "installed: 1.0.0", "latest: 1.1.0", "package: zip SERVER/Morvane-1.1.0.zip" },
         After::Unchanged);
    rows("check, full installer", { "--check=0.0.0" }, zip, 10,
         { "installed: 0.0.0", "latest: 1.1.0", "package: full installer SERVER/Setup-1.2.exe" },
         After::Unchanged);
    rows("check, no manifest", { "--check", "1.0.0" }, none, 1, {}, After::Unchanged);
    rows("update, nothing to do", { "--update", "1.1.0" }, zip, 0,
         { "up to date: 1.1.0 is installed, the latest is 1.1.0" }, After::Unchanged);
    rows("update, no start", { "--update", "1.0.0", "--no-start" }, zip, 0, { "updated to 1.1.0" },
         After::Updated);
    rows("update and start", { "--update", "1.0.0", "--log", "LOG" }, zip, 0,
         { "updated to 1.1.0, Morvane started" }, After::UpdatedAndStarted);
    rows("update, no package", { "--update", "1.0.0" }, none, 1, {}, After::Unchanged);
    rows("update, two modes", { "--update", "1.0.0", "--check", "1.0.0" }, zip, 1, {},
         After::Unchanged);
    rows("version missing", { "--check" }, zip, 1, {}, After::Unchanged);
    rows("unknown option", { "--frobnicate" }, zip, 1, {}, After::Unchanged);
    rows("no-start alone", { "--no-start" }, zip, 1, {}, After::Unchanged);
    rows("dry run, zip", { "--dry-run", "1.0.0", "--app-dir", "APPDIR" }, zip, 0,
         { "replaced Morvane.exe", "added docs/notes.txt" }, After::Unchanged);
    rows("dry run, delta", { "--dry-run", "1.0.0", "--app-dir", "APPDIR" }, Served::Delta, 0,
         { "patched Morvane.exe", "added plugins/new.dll" }, After::Unchanged);
    rows("dry run, delta that does not fit",
         { "--log", "LOG", "--dry-run=1.0.0", "--app-dir", "APPDIR" }, Served::DeltaMisfit, 0,
         { "fallback to the zip: Morvane.exe: the installed file differs from the one the delta "
           "patches",
           "replaced Morvane.exe", "added docs/notes.txt" },
         After::Unchanged);
    rows("dry run, full installer", { "--dry-run", "0.0.0", "--app-dir", "APPDIR" }, zip, 0,
         { "the full installer would be started: FULL" }, After::Unchanged);
    rows("dry run without a folder", { "--dry-run", "1.0.0" }, zip, 1, {}, After::Unchanged);
    rows("version", { "--version" }, zip, 0,
         { "updater 0.0.0", "server: 127.0.0.1", "unsigned: updates are not authenticated" },
         After::Unchanged);
}

void tst_CommandLine::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(Served, served);
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
    if (served != Served::Nothing)
        serve(server, app.path(), served);
    const QString log = root.filePath(QStringLiteral("log.txt"));
    arguments.replaceInStrings(QStringLiteral("LOG"), log);
    arguments.replaceInStrings(QStringLiteral("APPDIR"), app.path());
    output.replaceInStrings(QStringLiteral("SERVER"), base);
    output.replaceInStrings(QStringLiteral("FULL"),
                            app.filePath(QStringLiteral("updater-downloads/Setup-1.2.exe")));
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
    if (arguments.contains(QStringLiteral("--log")) && status == 0) {
        // Every line of the log starts with its time; a text file, with CRLF on Windows.
        const QString lines = QString::fromUtf8(readFile(log)).remove(QLatin1Char('\r'));
        QVERIFY(lines.contains(QLatin1String("Z download finished\n")));
        const QRegularExpression timed(
                QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z .*\n)+$"));
        QVERIFY2(timed.match(lines).hasMatch(), qPrintable(lines));
    }
    if (after == After::UpdatedAndStarted) {
        QTRY_COMPARE_WITH_TIMEOUT(readFile(app.filePath(QStringLiteral("started"))),
                                  QByteArray("1.1.0\n"), deadlineMs);
    } else {
        QVERIFY(!QFile::exists(app.filePath(QStringLiteral("started"))));
    }
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
