#include "httptestserver.h"
#include "testplatform.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

Q_DECLARE_METATYPE(HttpTestServer::Response)

// The whole update road, driven as a user would through a copy of the dialog that lives in a
// temporary application directory, against a server on 127.0.0.1 that may be hostile.
class tst_UpdateRoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void incrementalPackage();
    void fullPackage();
    void answerNo_data();
    void answerNo();
    void failedDownload_data();
    void failedDownload();
    void refusedPackage_data();
    void refusedPackage();
    void missingCompanion();
    void cancelDuringInstall();
    void secondUpdaterDuringInstall();
    void hostileServer_data();
    void hostileServer();
    void unwritableFolder_data();
    void unwritableFolder();
    void signedRoad_data();
    void signedRoad();
    void deltaPackage_data();
    void deltaPackage();
    void secureServer_data();
    void secureServer();

private:
    QString file(const QString &name) const { return appDir->filePath(name); }
    QString program(const QString &name) const { return file(testplatform::programFile(name)); }
    QString downloaded(const QString &name) const
    {
        return file(QStringLiteral("updater-downloads/") + name);
    }
    void serveManifest(const QString &packagePath, const QString &fullPath,
                       const QString &version = QStringLiteral("1.1.0"));
    void servePackage(const QString &path, const QByteArray &body, const QByteArray &name);
    ProbeRun drive(const QString &version, const char *answer, const QString &key = QString());
    // The application's own files: everything but the updater's download folder.
    Tree application() const;

    QString publisherKey;
    QScopedPointer<QTemporaryDir> root;
    QScopedPointer<QDir> appDir;
    QScopedPointer<HttpTestServer> server;
};

namespace {

// Every child of a road ends itself by the test's own deadline, and is waited for a while longer
// so that what it reports is read: a busy machine slows a road without failing it.
constexpr int roadDeadlineMs = 120000;
constexpr int reportGraceMs = 30000;

QByteArray zip(const QVector<QPair<QString, QByteArray>> &entries)
{
    QVector<ZipEntry> files;
    for (const auto &entry : entries)
        files.append({ entry.first, entry.second, ZipEntry::File, 0755 });
    // Stored, so that the tests can find and damage an entry's bytes.
    return makeZip(files, Compression::Store);
}

HttpTestServer::Response answer(const QByteArray &body, int status = 200)
{
    HttpTestServer::Response response;
    response.status = status;
    response.body = body;
    return response;
}

} // namespace

void tst_UpdateRoad::initTestCase()
{
    publisherKey = fixtureKey(QStringLiteral("publisher"));
    QVERIFY(!publisherKey.isEmpty());
    // OpenSSL reads its configuration once, at its first use: the test's servers may then speak
    // TLS 1.0, and the roads, started later without it, keep the system's configuration.
    qputenv("OPENSSL_CONF", fixture(QStringLiteral("tls/tls10.cnf")).toLocal8Bit());
    QVERIFY(QSslSocket::supportsSsl());
    qunsetenv("OPENSSL_CONF");
}

void tst_UpdateRoad::init()
{
    // The application directory sits one level down, so that anything written beside it shows.
    root.reset(new QTemporaryDir);
    QVERIFY(root->isValid());
    QVERIFY(QDir(root->path()).mkdir(QStringLiteral("app")));
    appDir.reset(new QDir(root->filePath(QStringLiteral("app"))));
    QVERIFY(QFile::copy(QStringLiteral(ROAD_PROBE), program(QStringLiteral("updater"))));
    QVERIFY(writeFile(file(QStringLiteral("Morvane.exe")), marker("1.0.0", appDir->path()), 0755));
    server.reset(new HttpTestServer);
    serveManifest(QStringLiteral("/Morvane-1.1.0.zip"), QStringLiteral("/Setup-1.2.exe"));
}

void tst_UpdateRoad::serveManifest(const QString &packagePath, const QString &fullPath,
                                   const QString &version)
{
    server->respond(QStringLiteral("/updates.json"),
                    answer(manifest({ { "latest-version", version },
                                      { "download-url", server->url(packagePath).toString() },
                                      { "full-url", server->url(fullPath).toString() },
                                      { "modify-time", "2026-12-08" },
                                      { "changelog", "faster start" } })));
}

void tst_UpdateRoad::servePackage(const QString &path, const QByteArray &body,
                                  const QByteArray &name)
{
    HttpTestServer::Response package = answer(body);
    package.headers = { { "Content-Disposition", "attachment; filename=\"" + name + '"' } };
    package.pieceSize = 4096;
    server->respond(path, package);
}

ProbeRun tst_UpdateRoad::drive(const QString &version, const char *answer, const QString &key)
{
    QStringList arguments { QString::number(roadDeadlineMs),
                            server->url(QStringLiteral("/updates.json")).toString(), version,
                            QString::fromLatin1(answer) };
    if (!key.isEmpty())
        arguments << key;
    return ProbeRun::run(program(QStringLiteral("updater")), arguments, root->path(),
                         roadDeadlineMs + reportGraceMs);
}

Tree tst_UpdateRoad::application() const
{
    return snapshot(root->path(), QStringLiteral("app/updater-downloads"));
}

void tst_UpdateRoad::incrementalPackage()
{
    const QByteArray notes(300000, 'n');
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"),
                 zip({ { "Morvane.exe", marker("1.1.0", appDir->path()) },
                       { "docs/notes.txt", notes } }),
                 "Morvane-1.1.0.zip");
    // What earlier updates left: a package, its dated copy, a partial download and its record.
    for (const char *left : { "Morvane-1.0.0.zip", "Morvane-1.0.0.zip_2026-01-31",
                              "Morvane-0.9.zip.part", "partial-download.txt" })
        QVERIFY(writeFile(downloaded(QLatin1String(left)), "left"));

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 0); // the updater quit after starting the companion
    QCOMPARE(road.value(QStringLiteral("update-offered")), QStringLiteral("1"));
    QCOMPARE(road.value(QStringLiteral("question")),
             QStringLiteral("update|download finished|start update?"));
    QCOMPARE(road.value(QStringLiteral("progress")), QStringLiteral("100"));
    QVERIFY(road.value(QStringLiteral("label_2"))
                    .startsWith(QLatin1String("Downloading updates (")));
    QVERIFY(road.value(QStringLiteral("label_3")).startsWith(QLatin1String("total time: ")));
    QVERIFY(road.values(QStringLiteral("log")).contains(QStringLiteral("download finished")));
    QVERIFY(!road.values(QStringLiteral("log")).contains(QStringLiteral("need full")));

    QCOMPARE(readFile(file(QStringLiteral("docs/notes.txt"))), notes);
    QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), marker("1.1.0", appDir->path()));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(file(QStringLiteral("started"))), QByteArray("1.1.0\n"),
                              roadDeadlineMs);
    // The package stays in the updater's own folder, never among the program's files, and it
    // alone stays there beside the lock.
    const QStringList kept = QDir(file(QStringLiteral("updater-downloads")))
                                     .entryList(QDir::Files | QDir::Hidden)
                                     .filter(QRegularExpression("^(?!updater\\.lock)"));
    QCOMPARE(kept, QStringList(QStringLiteral("Morvane-1.1.0.zip")));
    QVERIFY(!QFile::exists(file(QStringLiteral("Morvane-1.1.0.zip"))));
}

void tst_UpdateRoad::fullPackage()
{
    servePackage(QStringLiteral("/Setup-1.2.exe"), marker("full", appDir->path()), "Setup-1.2.exe");

    const ProbeRun road = drive(QStringLiteral("0.0.0"), "yes");
    QCOMPARE(road.exitCode, 0);
    QVERIFY(road.values(QStringLiteral("log")).contains(QStringLiteral("need full")));
    // Started from the download folder by the name it was saved under.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(file(QStringLiteral("started"))), QByteArray("full\n"),
                              roadDeadlineMs);
    QVERIFY(QFile::exists(downloaded(QStringLiteral("Setup-1.2.exe"))));
    QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), marker("1.0.0", appDir->path()));
}

// No keeps the package; a second press takes it again without downloading it, in a signed build
// once its signature, fetched anew, verifies over it.
void tst_UpdateRoad::answerNo_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("isSigned");
    QTest::newRow("no") << "no" << false;
    QTest::newRow("no, then yes") << "again" << false;
    QTest::newRow("signed, no, then yes") << "again" << true;
}

void tst_UpdateRoad::answerNo()
{
    QFETCH(QString, reply);
    QFETCH(bool, isSigned);
    const QByteArray package = zip({ { "Morvane.exe", marker("1.1.0", appDir->path()) } });
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), package, "Morvane-1.1.0.zip");
    if (isSigned) {
        const QString publisher = QStringLiteral("publisher");
        const QByteArray served
                = manifest({ { "latest-version", "1.1.0" },
                             { "download-url",
                               server->url(QStringLiteral("/Morvane-1.1.0.zip")).toString() } });
        server->respond(QStringLiteral("/updates.json"), answer(served));
        server->respond(QStringLiteral("/updates.json.minisig"),
                        answer(minisignSignature(publisher, served, "updates.json")));
        server->respond(QStringLiteral("/Morvane-1.1.0.zip.minisig"),
                        answer(minisignSignature(publisher, package, "Morvane-1.1.0.zip")));
    }
    const Tree before = application();

    const ProbeRun road
            = drive(QStringLiteral("1.0.0"), qPrintable(reply), isSigned ? publisherKey : "");
    const bool again = reply == QLatin1String("again");
    QCOMPARE(road.exitCode, again ? 0 : 3); // the dialog stays open after No
    QCOMPARE(road.value(QStringLiteral("question")),
             QStringLiteral("update|download finished|start update?"));
    QVERIFY(road.value(QStringLiteral("label_3")).startsWith(QLatin1String("total time: ")));
    QCOMPARE(server->requests().count(QStringLiteral("/Morvane-1.1.0.zip")), 1);
    QCOMPARE(road.values(QStringLiteral("log")).contains("using the package downloaded before"),
             again);
    QCOMPARE(server->requests().count(QStringLiteral("/Morvane-1.1.0.zip.minisig")),
             isSigned ? 2 : 0);
    if (again) {
        QTRY_COMPARE_WITH_TIMEOUT(readFile(file(QStringLiteral("started"))), QByteArray("1.1.0\n"),
                                  roadDeadlineMs);
        return;
    }
    QCOMPARE(application(), before);
    QVERIFY(QFile::exists(downloaded(QStringLiteral("Morvane-1.1.0.zip"))));
}

void tst_UpdateRoad::failedDownload_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("stopAfter");
    QTest::addColumn<bool>("emptyBody");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("why"); // the end of the line after "download failed"

    // Whether Qt's own key of a 404 is logged depends on whether its body ends before the
    // refusal's abort: the line after "download failed" is what counts.
    QTest::newRow("not found") << 404 << qint64(-1) << false << "download failed"
                               << "the server answered 404 Not Found";
    QTest::newRow("cut short") << 200 << qint64(5000) << false << "RemoteHostClosedError"
                               << " was lost 6 times";
    QTest::newRow("cut short, asked again")
            << 200 << qint64(5000) << false << "connection lost, starting again (5 of 5)"
            << " was lost 6 times";
    QTest::newRow("redirect to file://")
            << 302 << qint64(-1) << false << "download failed"
            << "the server redirected to file:///bin/sh, which is not an http or https address";
    QTest::newRow("redirect loop") << 307 << qint64(-1) << false << "download failed"
                                   << "the server's redirects go round in a loop";
    QTest::newRow("empty") << 200 << qint64(-1) << true << "Downloading Updates..."
                           << "the server sent an empty file";
}

void tst_UpdateRoad::failedDownload()
{
    QFETCH(int, status);
    QFETCH(qint64, stopAfter);
    QFETCH(bool, emptyBody);
    QFETCH(QString, logged);
    QFETCH(QString, why);

    // Small: Qt 5.15 ends a body of some hundred KiB that the server cut short without an error.
    HttpTestServer::Response package
            = answer(emptyBody ? QByteArray()
                               : zip({ { "Morvane.exe", "never started" },
                                       { "big.bin", QByteArray(20000, 'b') } }),
                     status);
    // A 302 leads out of the web, a 307 back to where it came from.
    const QByteArray location = status == 302 ? "file:///bin/sh" : "/Morvane-1.1.0.zip";
    package.headers = { { "Content-Disposition", "attachment; filename=\"Morvane-1.1.0.zip\"" },
                        { "Location", location } };
    package.stopAfter = stopAfter;
    server->respond(QStringLiteral("/Morvane-1.1.0.zip"), package);
    const Tree before = application();

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    const QStringList log = road.values(QStringLiteral("log"));
    QVERIFY2(log.filter(logged).size() == 1, qPrintable(log.join(QLatin1Char('|'))));
    QCOMPARE(log.value(log.size() - 2), QStringLiteral("download failed"));
    QVERIFY2(log.last().endsWith(why), qPrintable(log.last()));
    QVERIFY(!log.contains(QStringLiteral("download finished")));
    QCOMPARE(road.value(QStringLiteral("question")), QStringLiteral("<missing>"));
    QCOMPARE(application(), before);
    QCOMPARE(QDir(file(QStringLiteral("updater-downloads"))).entryList(QDir::Files), QStringList());
}

void tst_UpdateRoad::refusedPackage_data()
{
    QTest::addColumn<QByteArray>("archive");

    QTest::newRow("entry outside")
            << zipWithRawNames({ { "Morvane.exe", "#!/bin/sh\n" }, { "../escape.txt", "out" } });
    QTest::newRow("entry in the download folder") << zipWithRawNames(
            { { "Morvane.exe", "#!/bin/sh\n" }, { "Updater-Downloads/x.exe", "planted" } });

    QByteArray damaged = zip({ { "Morvane.exe", marker("1.1.0", appDir->path()) },
                               { "docs/notes.txt", QByteArray("release notes for 1.1.0") } });
    damaged.replace("release notes", "release NOTES");
    QVERIFY(damaged.contains("release NOTES"));
    QTest::newRow("damaged entry") << damaged;

    const QByteArray whole = zip({ { "Morvane.exe", marker("1.1.0", appDir->path()) } });
    QTest::newRow("truncated") << whole.left(whole.size() / 2);
    QTest::newRow("not a zip") << QByteArray("<html>503 Service Unavailable</html>");
}

void tst_UpdateRoad::refusedPackage()
{
    QFETCH(QByteArray, archive);
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), archive, "Morvane-1.1.0.zip");
    const Tree before = application();

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    const QStringList log = road.values(QStringLiteral("log"));
    QCOMPARE(log.mid(log.size() - 2),
             QStringList({ "update package rejected",
                           "the package is damaged or unsafe; nothing was changed" }));
    // Only the downloaded package itself is new; nothing was started.
    QCOMPARE(application(), before);
    QCOMPARE(readFile(downloaded(QStringLiteral("Morvane-1.1.0.zip"))), archive);
}

void tst_UpdateRoad::missingCompanion()
{
    QVERIFY(QFile::remove(file(QStringLiteral("Morvane.exe"))));
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), zip({ { "docs/notes.txt", "notes" } }),
                 "Morvane-1.1.0.zip");

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    const QStringList log = road.values(QStringLiteral("log"));
    QCOMPARE(log.mid(log.size() - 2),
             QStringList({ "update could not be started: " + file(QStringLiteral("Morvane.exe")),
                           "the program is not there; install Morvane again" }));
    QCOMPARE(readFile(file(QStringLiteral("docs/notes.txt"))), QByteArray("notes"));
}

// Cancel while the package is being unpacked: the window waits for the roll-back, then closes,
// and the application is as it was.
void tst_UpdateRoad::cancelDuringInstall()
{
    QVector<ZipEntry> files { { "Morvane.exe", marker("1.1.0", appDir->path()), ZipEntry::File,
                                0755 } };
    // Stored, and large enough that unpacking takes a while after the question.
    for (int i = 0; i < 3; ++i)
        files.append({ QStringLiteral("data/part%1.bin").arg(i), QByteArray(50 << 20, 'z') });
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), makeZip(files, Compression::Store),
                 "Morvane-1.1.0.zip");
    const Tree before = application();

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "cancel");
    QCOMPARE(road.exitCode, 0); // the window closed, which ends the program
    QVERIFY2(road.value(QStringLiteral("visible-after-cancel")) == QLatin1String("1"),
             qPrintable(road.lines.join(QLatin1Char('|'))));
    QVERIFY(road.values(QStringLiteral("log"))
                    .contains(QStringLiteral("cancelling the update...")));
    QCOMPARE(application(), before);
    QVERIFY(!QFile::exists(file(QStringLiteral("started"))));
}

// A second updater, started the real way while the first unpacks many small files, leaves the
// first's install alone and says why; the first ends with exactly the new release.
void tst_UpdateRoad::secondUpdaterDuringInstall()
{
    QVERIFY(QFile::copy(QStringLiteral(STARTUP_PROBE), program(QStringLiteral("second"))));
    QVector<ZipEntry> files { { "Morvane.exe", marker("1.1.0", appDir->path()), ZipEntry::File,
                                0755 } };
    Tree expected = application();
    expected.insert(QStringLiteral("app/lib"), "folder");
    for (int i = 0; i < 20000; ++i) {
        files.append({ QStringLiteral("lib/%1/%2").arg(i % 50).arg(i), QByteArray::number(i) });
        expected.insert(QStringLiteral("app/lib/%1").arg(i % 50), "folder");
    }
    for (const ZipEntry &entry : qAsConst(files))
        expected.insert(QStringLiteral("app/") + entry.name, fileState(entry.mode, entry.data));
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), makeZip(files, Compression::Store),
                 "Morvane-1.1.0.zip");

    // Windows flushes each of the 20,000 files on its own: minutes under Wine.
    const int deadlineMs = 240000;
    QProcess first;
    first.start(program(QStringLiteral("updater")),
                { QString::number(deadlineMs),
                  server->url(QStringLiteral("/updates.json")).toString(), "1.0.0", "yes" });
    QTRY_VERIFY_WITH_TIMEOUT(
            !appDir->entryList({ ".updater-staging-*" }, QDir::Dirs | QDir::Hidden).isEmpty(),
            deadlineMs);
    const qint64 firstPid = first.processId();
    const ProbeRun second
            = ProbeRun::run(program(QStringLiteral("second")), { "1.0.0" }, QString(), deadlineMs);
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, deadlineMs + reportGraceMs);
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(second.values(QStringLiteral("log")),
             QStringList(QStringLiteral("another update is running (pid %1 on this computer)")
                                 .arg(firstPid)));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(file(QStringLiteral("started"))), QByteArray("1.1.0\n"),
                              roadDeadlineMs);
    QVERIFY(QFile::remove(file(QStringLiteral("started"))));
    QCOMPARE(application(), expected);
}

// What a hostile server can make of the road with the limits shortened to one second: each row
// ends in a clear message, in seconds, and leaves the application as it was, nothing started.
void tst_UpdateRoad::hostileServer_data()
{
    QTest::addColumn<QString>("path"); // what the server answers hostilely
    QTest::addColumn<HttpTestServer::Response>("response");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("shown"); // a line of the log, or the start of the text shown

    const QString manifestPath = QStringLiteral("/updates.json");
    const QString packagePath = QStringLiteral("/Morvane-1.1.0.zip");
    const QByteArray package = zip({ { "Morvane.exe", "#!/bin/sh\n" } });
    HttpTestServer::Response r;
    r = answer(manifest({ { "latest-version", "1.1.0" } }));
    r = answer("moved");
    r.status = 301;
    r.headers = { { "Location", "http://storage.invalid/updates.json" } };
    QTest::newRow("manifest: redirected")
            << manifestPath << r << "1.0.0"
            << "the update server redirects the update information to "
               "http://storage.invalid/updates.json; redirects are not followed";
    r = answer(manifest({ { "latest-version", "1.1.0" } }));
    QTest::newRow("manifest: no package address") << manifestPath << r << "1.0.0"
                                                  << "names no package for this update";

    r = answer(package);
    r.stopAfter = 0;
    r.cut = HttpTestServer::Cut::Stall;
    QTest::newRow("manifest: stall after headers") << manifestPath << r << "1.0.0"
                                                   << "check error";
    QTest::newRow("package: stall after headers") << packagePath << r << "1.0.0"
                                                  << " within 1 s";
    r = answer(package);
    r.stopAfter = 100;
    r.cut = HttpTestServer::Cut::Stall;
    QTest::newRow("package: stall mid-body") << packagePath << r << "1.0.0"
                                             << " within 1 s";
    r = answer(QByteArray(1 << 20, 'd'));
    r.pieceSize = 1;
    r.pauseMs = 200;
    QTest::newRow("package: drip") << packagePath << r << "1.0.0"
                                   << "too slow";
    r = answer(qCompress(QByteArray(8 << 20, '\0')));
    r.headers = { { "Content-Encoding", "gzip" } };
    QTest::newRow("manifest: compressed") << manifestPath << r << "1.0.0"
                                          << "check error";
    QTest::newRow("package: compressed") << packagePath << r << "1.0.0"
                                         << "compressed answer";
    r = answer(package.left(package.size() / 2), 206);
    QTest::newRow("package: 206") << packagePath << r << "1.0.0"
                                  << "does not match its own headers";
    r = answer(QByteArray(2 << 20, ' '));
    QTest::newRow("manifest: 2 MiB") << manifestPath << r << "1.0.0"
                                     << "check error";
    r = answer(manifest({ { "latest-version", QString(400000, QLatin1Char('.')) } }));
    QTest::newRow("manifest: huge version") << manifestPath << r << "1.0.0"
                                            << "check error";
    r = answer(manifest({ { "latest-version", "1.1.0" },
                          { "download-url", "PACKAGE_URL" },
                          { "changelog", QString(900000, QLatin1Char('c')) } }));
    QTest::newRow("manifest: huge changelog") << manifestPath << r << "1.0.0"
                                              << "current version is : v1.0.0";
    r = answer(manifest({ { "latest-version", "1.1.0" }, { "download-url", "file:///bin/sh" } }));
    QTest::newRow("package: file address") << manifestPath << r << "1.0.0"
                                           << "download failed";
    for (const QByteArray &name : { QByteArray("Morvane.exe"), QByteArray("updater"),
                                    QByteArray("Qt5Core.dll"), QByteArray("../Morvane.exe") }) {
        // Saved in the download folder under whatever name; asked about, answered No.
        r = answer(package);
        r.headers = { { "Content-Disposition", "attachment; filename=\"" + name + '"' } };
        QTest::newRow(qPrintable("package named " + name)) << packagePath << r << "1.0.0"
                                                           << "download finished";
    }
}

void tst_UpdateRoad::hostileServer()
{
    QFETCH(QString, path);
    QFETCH(HttpTestServer::Response, response);
    QFETCH(QString, version);
    QFETCH(QString, shown);

    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), zip({ { "Morvane.exe", "#!/bin/sh\n" } }),
                 "Morvane-1.1.0.zip");
    // The server of this row is only made now.
    response.body.replace("PACKAGE_URL",
                          server->url(QStringLiteral("/Morvane-1.1.0.zip")).toEncoded());
    server->respond(path, response);
    const Tree before = application();
    qputenv("ROAD_LIMIT_MS", "1000");
    QElapsedTimer clock;
    clock.start();
    const ProbeRun road = drive(version, "no");
    qunsetenv("ROAD_LIMIT_MS");

    QCOMPARE(road.exitCode, 3);
    const QStringList log = road.values(QStringLiteral("log"));
    QVERIFY2(!log.filter(shown).isEmpty(), qPrintable(log.join(QLatin1Char('|'))));
    // Some seconds for the shortened limits, a few for the program: never a hang.
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(application(), before);
    QVERIFY(!QFile::exists(file(QStringLiteral("started"))));
    const QStringList leftovers = QDir(file(QStringLiteral("updater-downloads")))
                                          .entryList({ QStringLiteral("*.part") }, QDir::Files);
    QCOMPARE(leftovers, QStringList());
}

void tst_UpdateRoad::unwritableFolder_data()
{
    QTest::addColumn<QString>("mounted"); // relative to the application folder
    QTest::addColumn<qint64>("bytes"); // 0: the folder itself, read-only
    QTest::addColumn<QString>("shown");
    QTest::newRow("download folder full")
            << "updater-downloads" << qint64(256 << 10) << "not enough disk space: 65 MB needed, ";
    // Root here, elevated already: nothing to ask for, nothing downloaded.
    QTest::newRow("application folder read-only")
            << "." << qint64(0) << "administrator rights are needed to update";
}

void tst_UpdateRoad::unwritableFolder()
{
    QFETCH(QString, mounted);
    QFETCH(qint64, bytes);
    QFETCH(QString, shown);
    const QString folder = file(mounted);
    const testplatform::TestMount volume(folder, bytes);
    if (!volume.isMounted())
        QSKIP(qPrintable(volume.whyNot()));
    HttpTestServer::Response package = answer(HttpTestServer::generated(0, 1 << 20));
    package.headers = { { "Content-Disposition", "attachment; filename=\"Morvane-1.1.0.zip\"" } };
    server->respond(QStringLiteral("/Morvane-1.1.0.zip"), package);
    const Tree before = application();

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    const QStringList log = road.values(QStringLiteral("log"));
    QVERIFY2(!log.filter(shown).isEmpty(), qPrintable(log.join(QLatin1Char('|'))));
    QCOMPARE(server->requests().contains("/Morvane-1.1.0.zip"), bytes > 0);
    // The full disk does not stay full.
    QCOMPARE(QDir(file(QStringLiteral("updater-downloads"))).entryList(QDir::Files), QStringList());
    QCOMPARE(application(), before);
}

// A signed build against a server that plays the man in the middle: only the release the
// publisher signed installs.
void tst_UpdateRoad::signedRoad_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<QString>("shown");

    QTest::newRow("good release") << ""
                                  << "download finished";
    QTest::newRow("package altered after signing") << "alter package"
                                                   << "package signature invalid";
    QTest::newRow("signature of another release's file") << "other file"
                                                         << "package signature invalid";
    QTest::newRow("package signed by another key") << "other key"
                                                   << "package signature invalid";
    QTest::newRow("package signature missing") << "no package signature"
                                               << "package signature invalid";
    // Windows refuses the change: the package is held open from its verification on.
    const bool held = QSysInfo::kernelType() == QLatin1String("winnt");
    QTest::newRow("package changed in place before Yes")
            << "alter before yes" << (held ? "download finished" : "package signature invalid");
    QTest::newRow("manifest altered") << "alter manifest"
                                      << "manifest signature invalid";
    QTest::newRow("manifest signature missing") << "no manifest signature"
                                                << "manifest signature invalid";
    QTest::newRow("package's signature as the manifest's") << "manifest named otherwise"
                                                           << "manifest signature invalid";
    // Signed storage: the package and its signature each one hop away, under random names.
    QTest::newRow("package and signature redirected") << "redirect package"
                                                      << "download finished";
    QTest::newRow("manifest signature redirected")
            << "redirect manifest signature"
            << "the update server redirects the update information to ";
    QTest::newRow("older manifest replayed") << "replay"
                                             << "current software is up-to-date";
    // "expires VALUE": the manifest carries it, a number being hours from now.
    const QString stale = QStringLiteral("; the update server may be out of date");
    QTest::newRow("manifest expired years ago")
            << "expires 2020-01-01T00:00:00Z"
            << "the update information expired on 2020-01-01" + stale;
    QTest::newRow("manifest expired over a day ago") << "expires -25"
                                                     << "the update information expired on ";
    QTest::newRow("manifest expired within the clock skew") << "expires -23"
                                                            << "download finished";
    QTest::newRow("expiry not a UTC time") << "expires 2099-01-01"
                                           << "has an expiry date that is not readable" + stale;
    QTest::newRow("unsigned build, manifest expired") << "unsigned expires 2020-01-01T00:00:00Z"
                                                      << "download finished";
    QTest::newRow("no expiry where one is required")
            << "require expiry"
            << "the update information has no expiry date" + stale;
}

void tst_UpdateRoad::signedRoad()
{
    QFETCH(QString, attack);
    QFETCH(QString, shown);

    const QString publisher = QStringLiteral("publisher");
    const QString packagePath = QStringLiteral("/Morvane-1.1.0.zip");
    const QString expires = attack.section(QLatin1String("expires "), 1);
    QByteArray manifestBytes
            = manifest({ { "latest-version", attack == QLatin1String("replay") ? "1.0" : "1.1.0" },
                         { "download-url", server->url(packagePath).toString() },
                         { "modify-time", "2026-12-08" },
                         { "changelog", "faster start" } });
    if (!expires.isEmpty()) {
        bool relative = false;
        const int hours = expires.toInt(&relative);
        QJsonObject root = QJsonDocument::fromJson(manifestBytes).object();
        root.insert("expires",
                    relative ? QDateTime::currentDateTimeUtc()
                                       .addSecs(hours * 3600)
                                       .toString(Qt::ISODate)
                             : expires);
        manifestBytes = QJsonDocument(root).toJson();
    }
    const QByteArray manifestSignature = minisignSignature(
            publisher, manifestBytes,
            attack == QLatin1String("manifest named otherwise") ? "Morvane-1.1.0.zip" : "updates.json");
    const QByteArray package = zip({ { "Morvane.exe", marker("1.1.0", appDir->path()) } });
    QByteArray packageSignature
            = minisignSignature(publisher, package, QStringLiteral("Morvane-1.1.0.zip"));
    QVERIFY(!manifestSignature.isEmpty() && !packageSignature.isEmpty());

    QByteArray served = package;
    if (attack == QLatin1String("alter package"))
        served.replace("1.1.0", "6.6.6");
    else if (attack == QLatin1String("other file"))
        packageSignature = minisignSignature(
                publisher, zip({ { "Morvane.exe", marker("1.0.9", appDir->path()) } }),
                QStringLiteral("Morvane-1.0.9.zip"));
    else if (attack == QLatin1String("other key"))
        packageSignature = minisignSignature(QStringLiteral("other"), package,
                                             QStringLiteral("Morvane-1.1.0.zip"));
    if (attack == QLatin1String("alter manifest"))
        manifestBytes.replace("faster start", "slower start");

    server->respond(QStringLiteral("/updates.json"), answer(manifestBytes));
    if (attack != QLatin1String("no manifest signature"))
        server->respond(QStringLiteral("/updates.json.minisig"), answer(manifestSignature));
    servePackage(packagePath, served, "Morvane-1.1.0.zip");
    if (attack != QLatin1String("no package signature"))
        server->respond(packagePath + QLatin1String(".minisig"), answer(packageSignature));
    const auto redirect = [this](const QString &from, const QString &to, const QByteArray &body) {
        HttpTestServer::Response hop = answer("moved");
        hop.status = 302;
        hop.headers = { { "Location", to.toUtf8() } };
        server->respond(from, hop);
        server->respond(to, answer(body));
    };
    if (attack == QLatin1String("redirect package")) {
        redirect(packagePath, QStringLiteral("/store/a81f?sig=1"), served);
        redirect(packagePath + QLatin1String(".minisig"), QStringLiteral("/store/c3d9?sig=2"),
                 packageSignature);
    } else if (attack == QLatin1String("redirect manifest signature")) {
        redirect(QStringLiteral("/updates.json.minisig"), QStringLiteral("/store/e5b0"),
                 manifestSignature);
    }
    const Tree before = application();

    const bool alter = attack == QLatin1String("alter before yes");
    if (attack == QLatin1String("require expiry"))
        qputenv("ROAD_REQUIRE_EXPIRY", "1");
    const bool isSigned = !attack.startsWith(QLatin1String("unsigned"));
    const ProbeRun road = drive(QStringLiteral("1.0.0"), alter ? "alter" : "yes",
                                isSigned ? publisherKey : QString());
    qunsetenv("ROAD_REQUIRE_EXPIRY");
    const QStringList log = road.values(QStringLiteral("log"));
    QVERIFY2(!log.filter(shown).isEmpty(), qPrintable(log.join(QLatin1Char('|'))));
    if (alter)
        QCOMPARE(road.value(QStringLiteral("altered")) == "1", shown != "download finished");
    if (shown == QLatin1String("download finished")) {
        QCOMPARE(road.exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(file(QStringLiteral("started"))), QByteArray("1.1.0\n"),
                                  roadDeadlineMs);
        QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), marker("1.1.0", appDir->path()));
        // Named as the update information names it, not as the storage does.
        QVERIFY(QFile::exists(downloaded(QStringLiteral("Morvane-1.1.0.zip"))));
        return;
    }
    QCOMPARE(road.exitCode, 3);
    QCOMPARE(road.value(QStringLiteral("question")) == "<missing>", !alter);
    QCOMPARE(application(), before);
    QVERIFY(!QFile::exists(file(QStringLiteral("started"))));
    // Nothing unauthenticated stays under the package's name.
    QVERIFY(!QFile::exists(downloaded(QStringLiteral("Morvane-1.1.0.zip"))));
}

void tst_UpdateRoad::deltaPackage_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("fallsBack");
    QTest::addColumn<bool>("installs");
    QTest::addColumn<QString>("downloadUrl"); // zip, empty, none (no member), or delta's own

    QTest::newRow("delta fits") << "" << false << true << "zip";
    QTest::newRow("installed file changed by the user") << "user edit" << true << true << "zip";
    QTest::newRow("installed file missing") << "missing" << true << true << "zip";
    QTest::newRow("patch damaged") << "damaged" << true << true << "zip";
    QTest::newRow("result digest wrong") << "digest" << true << true << "zip";
    QTest::newRow("result size a byte larger") << "size" << true << true << "zip";
    QTest::newRow("signed, delta altered") << "signed altered" << true << true << "zip";
    QTest::newRow("signed, delta and zip altered")
            << "signed both altered" << true << false << "zip";
    // No whole package to fall back on: the delta that does not fit is never unpacked as one.
    for (const QString url : { "empty", "none", "delta" }) {
        QTest::addRow("user edit, download-url %s", qPrintable(url))
                << "user edit" << false << false << url;
        QTest::addRow("signed, user edit, download-url %s", qPrintable(url))
                << "signed user edit" << false << false << url;
    }
    QTest::newRow("signed, delta altered, download-url delta")
            << "signed altered" << false << false << "delta";
}

// The delta package against the installed 1.0.0, and the whole zip of 1.1.0 behind it.
void tst_UpdateRoad::deltaPackage()
{
    QFETCH(QString, fault);
    QFETCH(bool, fallsBack);
    QFETCH(bool, installs);
    QFETCH(QString, downloadUrl);

    QByteArray oldNotes;
    for (int i = 0; i < 20000; ++i)
        oldNotes += "line " + QByteArray::number(i) + " of the notes\n";
    const QByteArray newNotes = QByteArray(oldNotes).replace("line 7000 ", "LINE 7000 ");
    QVERIFY(writeFile(file(QStringLiteral("docs/notes.txt")), oldNotes));
    const QVector<QPair<QString, QByteArray>> release {
        { "Morvane.exe", marker("1.1.0", appDir->path()) },
        { "docs/new.txt", "new in 1.1.0" },
        { "docs/notes.txt", newNotes },
    };
    QVector<DeltaFile> files {
        { "Morvane.exe", readFile(file(QStringLiteral("Morvane.exe"))), release[0].second },
        { "docs/new.txt", QByteArray(), release[1].second, false },
        { "docs/notes.txt", oldNotes, release[2].second },
    };
    if (fault == QLatin1String("digest"))
        files[2].digestOf = "other bytes";
    if (fault == QLatin1String("size"))
        files[2].sizeOffset = 1;
    QByteArray delta = deltaZip("1.0.0", "1.1.0", files);
    QByteArray whole = zip(release);
    // A byte inside the last frame, the notes' patch.
    if (fault == QLatin1String("damaged"))
        delta[delta.lastIndexOf("\x28\xb5\x2f\xfd") + 12] = '\xff';
    if (fault.endsWith(QLatin1String("user edit")))
        QVERIFY(writeFile(file(QStringLiteral("docs/notes.txt")), oldNotes + "mine"));
    if (fault == QLatin1String("missing"))
        QVERIFY(QFile::remove(file(QStringLiteral("docs/notes.txt"))));

    const QString deltaName = QStringLiteral("Morvane-1.0.0-to-1.1.0.delta.zip");
    const bool isSigned = fault.startsWith(QLatin1String("signed"));
    const QString deltaUrl = server->url(QLatin1Char('/') + deltaName).toString();
    QJsonObject entry { { "latest-version", "1.1.0" },
                        { "delta-url", deltaUrl },
                        { "delta-from", "1.0.0" } };
    if (downloadUrl != QLatin1String("none"))
        entry.insert("download-url",
                     downloadUrl == QLatin1String("zip")
                             ? server->url(QStringLiteral("/Morvane-1.1.0.zip")).toString()
                             : downloadUrl == QLatin1String("delta") ? deltaUrl
                                                                     : QString());
    QByteArray manifestBytes = manifest(entry);
    server->respond(QStringLiteral("/updates.json"), answer(manifestBytes));
    if (isSigned) {
        const QString publisher = QStringLiteral("publisher");
        server->respond(QStringLiteral("/updates.json.minisig"),
                        answer(minisignSignature(publisher, manifestBytes, "updates.json")));
        server->respond(QLatin1Char('/') + deltaName + QLatin1String(".minisig"),
                        answer(minisignSignature(publisher, delta, deltaName)));
        server->respond(QStringLiteral("/Morvane-1.1.0.zip.minisig"),
                        answer(minisignSignature(publisher, whole, "Morvane-1.1.0.zip")));
        if (fault.contains(QLatin1String("altered")))
            delta.replace("1.1.0", "6.6.6");
        if (fault == QLatin1String("signed both altered"))
            whole.replace("1.1.0", "6.6.6");
    }
    servePackage(QLatin1Char('/') + deltaName, delta, deltaName.toUtf8());
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), whole, "Morvane-1.1.0.zip");
    const Tree before = application();

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes", isSigned ? publisherKey : "");
    const QStringList log = road.values(QStringLiteral("log"));
    const QString joined = log.join(QLatin1Char('|'));
    QVERIFY2(!log.filter(QRegularExpression("^downloading the delta from 1.0.0 \\(\\d+ KB\\)$"))
                      .isEmpty(),
             qPrintable(joined));
    QCOMPARE(log.contains(QStringLiteral(
                     "the delta does not fit this installation, downloading the whole package")),
             fallsBack);
    QCOMPARE(log.contains(QStringLiteral(
                     "the delta does not fit this installation and no whole package is named")),
             downloadUrl != QLatin1String("zip"));
    QCOMPARE(server->requests().contains(QStringLiteral("/Morvane-1.1.0.zip")), fallsBack);
    // Never fetched again as the whole package.
    QCOMPARE(server->requests().count(QLatin1Char('/') + deltaName), 1);
    if (isSigned)
        QCOMPARE(log.count(QStringLiteral("package signature invalid")),
                 int(fault.contains(QLatin1String("altered"))) + int(fault.contains("both")));
    if (!installs) {
        QCOMPARE(road.exitCode, 3);
        QCOMPARE(log.value(log.size() - 2), QStringLiteral("download failed"));
        // Yes was said to the delta, which was refused on the way in.
        QCOMPARE(road.value(QStringLiteral("question")) == QLatin1String("<missing>"),
                 !fault.endsWith(QLatin1String("user edit")));
        QVERIFY(!QFile::exists(file(QStringLiteral("delta.json"))));
        QCOMPARE(application(), before);
        return;
    }
    // Asked once, whatever came after.
    QCOMPARE(road.value(QStringLiteral("question")),
             QStringLiteral("update|download finished|start update?"));
    QCOMPARE(road.exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(file(QStringLiteral("started"))), QByteArray("1.1.0\n"),
                              roadDeadlineMs);
    for (const auto &made : release)
        QCOMPARE(readFile(file(made.first)), made.second);
}

QTEST_GUILESS_MAIN(tst_UpdateRoad)
#include "tst_updateroad.moc"

void tst_UpdateRoad::secureServer_data()
{
    QTest::addColumn<QString>("certificate"); // of the server of the update information
    QTest::addColumn<int>("protocol"); // the only one that server speaks
    QTest::addColumn<QString>("trust"); // "ca": the tests' CA is built in; "system": none is
    QTest::addColumn<QString>("package"); // "same" server, "http" to it, or "expired" elsewhere
    QTest::addColumn<QString>("why"); // the line after the failure; empty: update offered

    const int modern = QSsl::TlsV1_2OrLater;
    QTest::newRow("trusted") << "server" << modern << "ca"
                             << "same"
                             << "";
    QTest::newRow("unknown CA") << "unknown" << modern << "ca"
                                << "same"
                                << "the server's certificate is not trusted";
    QTest::newRow("expired") << "expired" << modern << "ca"
                             << "same"
                             << "the server's certificate has expired";
    QTest::newRow("wrong name") << "wrongname" << modern << "ca"
                                << "same"
                                << "the server's certificate was issued for another name";
    QTest::newRow("TLS 1.0 only") << "server" << int(QSsl::TlsV1_0) << "ca"
                                  << "same"
                                  << "offers no secure connection of TLS 1.2 or newer";
    QTest::newRow("system store, no CA built in") << "server" << modern << "system"
                                                  << "same"
                                                  << "the server's certificate is not trusted";
    QTest::newRow("package: expired") << "server" << modern << "ca"
                                      << "expired"
                                      << "the server's certificate has expired";
    QTest::newRow("package: http") << "server" << modern << "ca"
                                   << "http"
                                   << "insecure address in the update information";
}

void tst_UpdateRoad::secureServer()
{
    QFETCH(QString, certificate);
    QFETCH(int, protocol);
    QFETCH(QString, trust);
    QFETCH(QString, package);
    QFETCH(QString, why);

    const auto tls = [](HttpTestServer *to, const QString &name, int protocol) {
        return to->useTls(fixture("tls/" + name + ".pem"), fixture("tls/" + name + ".key"),
                          QSsl::SslProtocol(protocol));
    };
    QVERIFY(tls(server.data(), certificate, protocol));
    if (protocol == QSsl::TlsV1_0) {
        // The row is only worth its name if the server does speak TLS 1.0.
        QSslSocket client;
        QSslConfiguration old = QSslConfiguration::defaultConfiguration();
        old.setProtocol(QSsl::TlsV1_0);
        old.setPeerVerifyMode(QSslSocket::VerifyNone);
        client.setSslConfiguration(old);
        QSignalSpy encrypted(&client, &QSslSocket::encrypted);
        client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->serverPort());
        QVERIFY(encrypted.wait(roadDeadlineMs));
    }
    HttpTestServer elsewhere;
    QVERIFY(tls(&elsewhere, QStringLiteral("expired"), QSsl::TlsV1_2OrLater));
    QUrl packageUrl = (package == QLatin1String("expired") ? elsewhere : *server)
                              .url(QStringLiteral("/Morvane-1.1.0.zip"));
    if (package == QLatin1String("http"))
        packageUrl.setScheme(QStringLiteral("http"));
    server->respond(QStringLiteral("/updates.json"),
                    answer(manifest({ { "latest-version", "1.1.0" },
                                      { "download-url", packageUrl.toString() } })));
    const QByteArray zipped = zip({ { "Morvane.exe", "#!/bin/sh\n" } });
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), zipped, "Morvane-1.1.0.zip");
    elsewhere.respond(QStringLiteral("/Morvane-1.1.0.zip"), answer(zipped));
    if (trust == QLatin1String("ca"))
        qputenv("ROAD_CA_FILE", fixture(QStringLiteral("tls/ca.pem")).toLocal8Bit());
    const ProbeRun road = drive(QStringLiteral("1.0.0"), "no");
    qunsetenv("ROAD_CA_FILE");

    const QStringList log = road.values(QStringLiteral("log"));
    QCOMPARE(road.exitCode, 3);
    QVERIFY2(why.isEmpty() == log.contains(QStringLiteral("download finished")),
             qPrintable(log.join(QLatin1Char('|'))));
    if (!why.isEmpty())
        QVERIFY2(log.last().contains(why), qPrintable(log.join(QLatin1Char('|'))));
    // Nothing is fetched over http, and a package only from a server that proved who it is.
    QCOMPARE(server->requests().contains(QStringLiteral("/Morvane-1.1.0.zip")),
             package == QLatin1String("same") && why.isEmpty());
    QCOMPARE(elsewhere.requests(), QStringList());
}
