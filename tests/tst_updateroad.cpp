#include "httptestserver.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The whole update road, driven as a user would through a copy of the dialog that lives in a
// temporary application directory, against packages served from 127.0.0.1.
class tst_UpdateRoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void incrementalPackage();
    void fullPackage();
    void answerNo();
    void failedDownload_data();
    void failedDownload();
    void refusedPackage_data();
    void refusedPackage();
    void missingCompanion();

private:
    QString file(const QString &name) const { return appDir->filePath(name); }
    void serveManifest(const QString &packagePath, const QString &fullPath);
    void servePackage(const QString &path, const QByteArray &body, const QByteArray &name);
    ProbeRun drive(const QString &version, const char *answer);

    QScopedPointer<QTemporaryDir> root;
    QScopedPointer<QDir> appDir;
    QScopedPointer<HttpTestServer> server;
};

namespace {

// A companion program that leaves a marker naming the version that ran.
QByteArray companion(const QByteArray &version)
{
    return "#!/bin/sh\necho " + version + " > \"$(dirname \"$0\")/started\"\n";
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &data, bool executable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    return !executable || file.setPermissions(file.permissions() | QFile::ExeOwner);
}

QByteArray zip(const QList<QPair<QString, QByteArray>> &entries)
{
    QVector<testsupport::ZipEntry> files;
    for (const auto &entry : entries)
        files.append({ entry.first, entry.second });
    // Stored, so that the tests can find and damage an entry's bytes.
    return testsupport::makeZip(files, testsupport::Compression::Store);
}

// Every file below dir with its contents, by relative path.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path),
                     it.fileInfo().isDir() ? QByteArray("<dir>") : readFile(path));
    }
    return files;
}

} // namespace

void tst_UpdateRoad::init()
{
    // The application directory sits one level down, so that anything written beside it shows.
    root.reset(new QTemporaryDir);
    QVERIFY(root->isValid());
    QVERIFY(QDir(root->path()).mkdir(QStringLiteral("app")));
    appDir.reset(new QDir(root->filePath(QStringLiteral("app"))));
    QVERIFY(QFile::copy(QStringLiteral(ROAD_PROBE), file(QStringLiteral("updater"))));
    QVERIFY(writeFile(file(QStringLiteral("Morvane.exe")), companion("1.0.0"), true));
    server.reset(new HttpTestServer);
    serveManifest(QStringLiteral("/Morvane-1.1.0.zip"), QStringLiteral("/Setup-1.2.exe"));
}

void tst_UpdateRoad::serveManifest(const QString &packagePath, const QString &fullPath)
{
    const QJsonObject entry { { "latest-version", "1.1.0" },
                              { "download-url", server->url(packagePath).toString() },
                              { "full-url", server->url(fullPath).toString() },
                              { "modify-time", "2026-12-08" },
                              { "changelog", "faster start" } };
    HttpTestServer::Response manifest;
    manifest.body
            = QJsonDocument(QJsonObject { { "updates", QJsonObject { { "windows", entry } } } })
                      .toJson();
    server->respond(QStringLiteral("/updates.json"), manifest);
}

void tst_UpdateRoad::servePackage(const QString &path, const QByteArray &body,
                                  const QByteArray &name)
{
    HttpTestServer::Response package;
    package.headers = { { "Content-Disposition", "attachment; filename=\"" + name + '"' } };
    package.body = body;
    package.pieceSize = 4096;
    server->respond(path, package);
}

ProbeRun tst_UpdateRoad::drive(const QString &version, const char *answer)
{
    return ProbeRun::run(file(QStringLiteral("updater")),
                         { server->url(QStringLiteral("/updates.json")).toString(), version,
                           QString::fromLatin1(answer) },
                         root->path());
}

void tst_UpdateRoad::incrementalPackage()
{
    const QByteArray notes(300000, 'n');
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"),
                 zip({ { "Morvane.exe", companion("1.1.0") }, { "docs/notes.txt", notes } }),
                 "Morvane-1.1.0.zip");

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
    QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), companion("1.1.0"));
    QTRY_COMPARE(readFile(file(QStringLiteral("started"))), QByteArray("1.1.0\n"));
    QVERIFY(QFile::exists(file(QStringLiteral("Morvane-1.1.0.zip"))));
}

void tst_UpdateRoad::fullPackage()
{
    servePackage(QStringLiteral("/Setup-1.2.exe"),
                 "#!/bin/sh\necho full > \"$(dirname \"$0\")/started\"\n", "Setup-1.2.exe");

    const ProbeRun road = drive(QStringLiteral("0.0.0"), "yes");
    QCOMPARE(road.exitCode, 0);
    QVERIFY(road.values(QStringLiteral("log")).contains(QStringLiteral("need full")));
    QTRY_COMPARE(readFile(file(QStringLiteral("started"))), QByteArray("full\n"));
    QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), companion("1.0.0"));
}

void tst_UpdateRoad::answerNo()
{
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"),
                 zip({ { "Morvane.exe", companion("1.1.0") } }), "Morvane-1.1.0.zip");

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "no");
    QCOMPARE(road.exitCode, 3); // the dialog stays open
    QCOMPARE(road.value(QStringLiteral("question")),
             QStringLiteral("update|download finished|start update?"));
    QVERIFY(road.value(QStringLiteral("label_3")).startsWith(QLatin1String("total time: ")));
    QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), companion("1.0.0"));
    QVERIFY(QFile::exists(file(QStringLiteral("Morvane-1.1.0.zip"))));
    QVERIFY(!QFile::exists(file(QStringLiteral("started"))));
}

void tst_UpdateRoad::failedDownload_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("stopAfter");
    QTest::addColumn<bool>("emptyBody");
    QTest::addColumn<QString>("logged");

    QTest::newRow("not found") << 404 << qint64(-1) << false << "ContentNotFoundError";
    QTest::newRow("cut short") << 200 << qint64(5000) << false << "RemoteHostClosedError";
    QTest::newRow("redirect") << 302 << qint64(-1) << false << "HTTP 302";
    QTest::newRow("empty") << 200 << qint64(-1) << true << "download failed";
}

void tst_UpdateRoad::failedDownload()
{
    QFETCH(int, status);
    QFETCH(qint64, stopAfter);
    QFETCH(bool, emptyBody);
    QFETCH(QString, logged);

    HttpTestServer::Response package;
    package.status = status;
    package.headers = { { "Content-Disposition", "attachment; filename=\"Morvane-1.1.0.zip\"" },
                        { "Location", "/elsewhere.zip" } };
    package.body
            = zip({ { "Morvane.exe", companion("1.1.0") }, { "big.bin", QByteArray(20000, 'b') } });
    if (emptyBody)
        package.body.clear();
    package.stopAfter = stopAfter;
    server->respond(QStringLiteral("/Morvane-1.1.0.zip"), package);

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    const QStringList log = road.values(QStringLiteral("log"));
    QVERIFY2(log.contains(logged), qPrintable(log.join(QLatin1Char('|'))));
    QCOMPARE(log.last(), QStringLiteral("download failed"));
    QVERIFY(!log.contains(QStringLiteral("download finished")));
    // A status line only where the status itself was the failure.
    QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^HTTP "))).size(),
             logged.startsWith(QLatin1String("HTTP ")) ? 1 : 0);
    QCOMPARE(road.value(QStringLiteral("question")), QStringLiteral("<missing>"));
    QVERIFY(!QFile::exists(file(QStringLiteral("Morvane-1.1.0.zip"))));
    QCOMPARE(readFile(file(QStringLiteral("Morvane.exe"))), companion("1.0.0"));
    QVERIFY(!QFile::exists(file(QStringLiteral("started"))));
}

void tst_UpdateRoad::refusedPackage_data()
{
    QTest::addColumn<QByteArray>("archive");

    // Written under a stand-in name of the same length, then renamed in the raw bytes.
    QByteArray hostile = zip({ { "Morvane.exe", companion("6.6.6") }, { "XX/escape.txt", "out" } });
    hostile.replace("XX/escape.txt", "../escape.txt");
    QCOMPARE(hostile.count("../escape.txt"), 2); // local header and central directory
    QTest::newRow("entry outside") << hostile;

    QByteArray damaged = zip({ { "Morvane.exe", companion("1.1.0") },
                               { "docs/notes.txt", QByteArray("release notes for 1.1.0") } });
    damaged.replace("release notes", "release NOTES");
    QVERIFY(damaged.contains("release NOTES"));
    QTest::newRow("damaged entry") << damaged;

    const QByteArray whole = zip({ { "Morvane.exe", companion("1.1.0") } });
    QTest::newRow("truncated") << whole.left(whole.size() / 2);
    QTest::newRow("not a zip") << QByteArray("<html>503 Service Unavailable</html>");
}

void tst_UpdateRoad::refusedPackage()
{
    QFETCH(QByteArray, archive);
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), archive, "Morvane-1.1.0.zip");
    const QMap<QString, QByteArray> before = snapshot(root->path());

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    QCOMPARE(road.values(QStringLiteral("log")).last(), QStringLiteral("update package rejected"));
    // Only the downloaded package itself is new; nothing was started.
    QMap<QString, QByteArray> after = snapshot(root->path());
    QCOMPARE(after.take(QStringLiteral("app/Morvane-1.1.0.zip")), archive);
    QCOMPARE(after, before);
}

void tst_UpdateRoad::missingCompanion()
{
    QVERIFY(QFile::remove(file(QStringLiteral("Morvane.exe"))));
    servePackage(QStringLiteral("/Morvane-1.1.0.zip"), zip({ { "docs/notes.txt", "notes" } }),
                 "Morvane-1.1.0.zip");

    const ProbeRun road = drive(QStringLiteral("1.0.0"), "yes");
    QCOMPARE(road.exitCode, 3);
    QCOMPARE(road.values(QStringLiteral("log")).last(),
             QStringLiteral("update could not be started: ") + file(QStringLiteral("Morvane.exe")));
    QCOMPARE(readFile(file(QStringLiteral("docs/notes.txt"))), QByteArray("notes"));
}

QTEST_GUILESS_MAIN(tst_UpdateRoad)
#include "tst_updateroad.moc"
