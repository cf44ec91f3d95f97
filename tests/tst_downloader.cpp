#include "download/downloader.h"
#include "download/networklimits.h"
#include "httptestserver.h"
#include "testplatform.h"
#include "testsupport.h"
#include "verify/blake2b512.h"

#include <QDate>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(HttpTestServer::Framing)
Q_DECLARE_METATYPE(HttpTestServer::Response)
using E = Downloader::Error;

namespace {

QString key(QNetworkReply::NetworkError code)
{
    return QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(code);
}

// The downloader's signals in the order they arrive; progress reports are kept apart.
struct Recorder : QObject
{
    explicit Recorder(Downloader &downloader)
    {
        connect(&downloader, &Downloader::doProgress, this, [this](qint64 received, qint64 total) {
            progress.append({ received, total });
        });
        connect(&downloader, &Downloader::onError, this,
                [this](QNetworkReply::NetworkError code) { events << "error:" + key(code); });
        connect(&downloader, &Downloader::doFinished, this,
                [this] { events << QStringLiteral("finished"); });
    }
    int finishedCount() const { return events.count(QStringLiteral("finished")); }

    QStringList events;
    QList<QPair<qint64, qint64>> progress;
};

HttpTestServer::Response package(const QByteArray &body, const QByteArray &name = "pkg.zip")
{
    HttpTestServer::Response response;
    response.body = body;
    response.headers = { { "Content-Disposition", "attachment; filename=\"" + name + '"' } };
    return response;
}

QString dated(const QString &path)
{
    return path + '_' + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

// The application's files, the download folder left out.
testsupport::Tree snapshot(const QDir &dir)
{
    return testsupport::snapshot(dir.path(), Downloader::folderName());
}

QByteArray blake2b(const QByteArray &data)
{
    Blake2b512 hash;
    hash.addData(data);
    return hash.result();
}

} // namespace

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void metaObjectHasThreeSignals();
    void names_data();
    void names();
    void noUsableNameKeepsEarlierOne();
    void wholeBody_data();
    void wholeBody();
    void hostileServers_data();
    void hostileServers();
    void cancelEndsAsFailure();
    void destroyedMidTransferLeavesNoPart();
    void leftoversAreCleaned_data();
    void leftoversAreCleaned();
    void earlierPackageBecomesDatedBackup();
    void busyWhileUnderWay();
    void emptyAddressThenRealOne();
    void signalOrder();
    void defaultTargetIsDownloadFolder();

private:
    // Downloads url into the download folder; false when no doFinished came in time.
    bool fetch(Downloader &downloader, Recorder &recorder, const QUrl &url);
    // The application directory with files a hostile name would aim at.
    void seedApplication();

    QScopedPointer<QTemporaryDir> tmp;
    QScopedPointer<HttpTestServer> server;
    QDir app;
    QDir target;
    QString previousCurrent;
};

void tst_Downloader::initTestCase()
{
    // Short enough for the hostile table to run in seconds, long enough for a loaded machine:
    // under Wine on two busy cores, half a second passed between two pieces of a local answer.
    NetworkLimits::stallTimeoutMs = 2000;
    NetworkLimits::dripWindowMs = 4000;
    NetworkLimits::dripMinBytes = 4096;
    // Small, so that every hashed download also runs into the hasher's backpressure.
    NetworkLimits::hashBacklogBytes = 256 * 1024;
}

void tst_Downloader::init()
{
    tmp.reset(new QTemporaryDir);
    QVERIFY(tmp->isValid());
    server.reset(new HttpTestServer);
    app.setPath(tmp->filePath(QStringLiteral("app")));
    target.setPath(app.filePath(Downloader::folderName()));
    // Every test runs from another working directory, which must stay empty.
    QVERIFY(QDir(tmp->path()).mkdir(QStringLiteral("cwd")));
    previousCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp->filePath(QStringLiteral("cwd"))));
}

void tst_Downloader::cleanup()
{
    QDir::setCurrent(previousCurrent);
    QCOMPARE(QDir(tmp->filePath(QStringLiteral("cwd")))
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
    server.reset();
    tmp.reset();
}

bool tst_Downloader::fetch(Downloader &downloader, Recorder &recorder, const QUrl &url)
{
    const int before = recorder.finishedCount();
    downloader.setTargetDirectory(target.path());
    downloader.download(url.toString());
    return QTest::qWaitFor([&] { return recorder.finishedCount() > before; });
}

void tst_Downloader::seedApplication()
{
    QVERIFY(app.mkpath(QStringLiteral(".")));
    for (const char *name : { "Morvane.exe", "updater.exe", "Qt5Core.dll", "x" })
        QVERIFY(testsupport::writeFile(app.filePath(name), QByteArray("installed ") + name));
}

void tst_Downloader::metaObjectHasThreeSignals()
{
    const QMetaObject &meta = Downloader::staticMetaObject;
    QCOMPARE(meta.className(), "Downloader");
    QStringList signatures;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        QCOMPARE(meta.method(i).methodType(), QMetaMethod::Signal);
        signatures << meta.method(i).methodSignature();
    }
    // moc spells qint64 as qlonglong.
    QCOMPARE(signatures,
             QStringList({ "doProgress(qlonglong,qlonglong)",
                           "onError(QNetworkReply::NetworkError)", "doFinished()" }));
    // Registered, so that onError can also be delivered through queued connections.
    const int type = meta.method(meta.methodOffset() + 1).parameterType(0);
    QCOMPARE(QMetaType::typeName(type), "QNetworkReply::NetworkError");
}

void tst_Downloader::names_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("disposition"); // empty: no header
    QTest::addColumn<QString>("expected");

    QTest::newRow("quoted") << "/get" << QByteArray("attachment; filename=\"pkg.zip\"")
                            << "pkg.zip";
    QTest::newRow("greedy match holding a quote: the URL's name")
            << "/get" << QByteArray("attachment; filename=\"pkg.zip\"; size=\"9\"") << "get";
    QTest::newRow("two names: the second")
            << "/get" << QByteArray("filename=\"a.zip\"; filename=\"b.zip\"") << "b.zip";
    QTest::newRow("percent-encoded UTF-8")
            << "/get" << QByteArray("attachment; filename=\"%E6%9B%B4%E6%96%B0.zip\"")
            << QString::fromUtf8("\xe6\x9b\xb4\xe6\x96\xb0.zip");
    QTest::newRow("filename*") << "/get"
                               << QByteArray("attachment; filename*=UTF-8''%E6%9B%B4%20v2.zip")
                               << QString::fromUtf8("\xe6\x9b\xb4 v2.zip");
    QTest::newRow("unquoted: the URL's name")
            << "/files/pkg-1.2.zip" << QByteArray("attachment; filename=other.zip")
            << "pkg-1.2.zip";
    QTest::newRow("no header: the URL's name, decoded")
            << "/files/%E6%9B%B4%20new.zip" << QByteArray()
            << QString::fromUtf8("\xe6\x9b\xb4 new.zip");
    // Names aimed at the application's own files land in the download folder only.
    QTest::newRow("Morvane.exe") << "/get" << QByteArray("filename=\"Morvane.exe\"")
                                 << "Morvane.exe";
    QTest::newRow("updater.exe") << "/get" << QByteArray("filename=\"updater.exe\"")
                                 << "updater.exe";
    QTest::newRow("Qt library") << "/get" << QByteArray("filename=\"Qt5Core.dll\"")
                                << "Qt5Core.dll";
    QTest::newRow("../x") << "/get" << QByteArray("filename=\"../x\"") << "x";
    QTest::newRow("%2e%2e%2fx") << "/get" << QByteArray("filename=\"%2e%2e%2fx\"") << "x";
    QTest::newRow("absolute path")
            << "/get" << QByteArray("filename=\"/tmp/evil.zip\"") << "evil.zip";
    QTest::newRow("Windows path") << "/get" << QByteArray("filename=\"C:\\Windows\\evil.exe\"")
                                  << "evil.exe";
    QTest::newRow("dot-dot alone: the URL's name")
            << "/files/pkg.zip" << QByteArray("filename=\"..\"") << "pkg.zip";
    QTest::newRow("trailing dot: the URL's name")
            << "/files/pkg.zip" << QByteArray("filename=\"Morvane.exe.\"") << "pkg.zip";
    QTest::newRow("device name: the URL's name")
            << "/files/pkg.zip" << QByteArray("filename=\"nul .zip\"") << "pkg.zip";
    QTest::newRow("header over 4 KiB: the URL's name")
            << "/files/pkg.zip" << QByteArray(5000, ';') + "filename=\"evil.zip\""
            << "pkg.zip";
    QTest::newRow("the update lock's name: the URL's name")
            << "/files/pkg.zip" << QByteArray("filename=\"Updater.LOCK\"") << "pkg.zip";
    QTest::newRow("control character: the URL's name")
            << "/files/pkg.zip" << QByteArray("filename=\"a%0Ab.zip\"") << "pkg.zip";
}

void tst_Downloader::names()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, disposition);
    QFETCH(QString, expected);
    HttpTestServer::Response response;
    response.body = "payload";
    if (!disposition.isEmpty())
        response.headers = { { "Content-Disposition", disposition } };
    server->respond(QUrl(path).path(QUrl::FullyEncoded), response);
    seedApplication();
    const auto installed = snapshot(app);

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, server->url(path)));

    QVERIFY2(downloader.succeeded(), qPrintable(downloader.errorString()));
    QCOMPARE(downloader.errorString(), QString());
    QCOMPARE(target.entryList(QDir::Files), QStringList(expected));
    QCOMPARE(downloader.file()->fileName(), target.filePath(expected));
    QCOMPARE(testsupport::readFile(target.filePath(expected)), QByteArray("payload"));
    QCOMPARE(snapshot(app), installed);
    QCOMPARE(QDir(tmp->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList({ "app", "cwd" }));
}

void tst_Downloader::noUsableNameKeepsEarlierOne()
{
    HttpTestServer::Response bare;
    bare.body = "first";
    server->respond("/", bare);
    server->respond("/named", package("second"));

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    // No name at all on a new object: nothing is written.
    QVERIFY(fetch(downloader, recorder, server->url("/")));
    QVERIFY(!downloader.succeeded());
    QCOMPARE(downloader.errorString(), QStringLiteral("no usable file name"));
    QCOMPARE(target.entryList(QDir::Files | QDir::Hidden), QStringList());

    QVERIFY(fetch(downloader, recorder, server->url("/named")));
    bare.body = "third";
    server->respond("/", bare);
    QVERIFY(fetch(downloader, recorder, server->url("/")));
    QVERIFY2(downloader.succeeded(), qPrintable(downloader.errorString()));
    QCOMPARE(testsupport::readFile(target.filePath("pkg.zip")), QByteArray("third"));
    QCOMPARE(testsupport::readFile(dated(target.filePath("pkg.zip"))), QByteArray("second"));
}

void tst_Downloader::wholeBody_data()
{
    QTest::addColumn<HttpTestServer::Framing>("framing");
    QTest::addColumn<bool>("hashing");
    QTest::addColumn<int>("pauseMs");
    QTest::newRow("Content-Length") << HttpTestServer::Framing::ContentLength << false << 0;
    QTest::newRow("chunked") << HttpTestServer::Framing::Chunked << false << 0;
    QTest::newRow("ends with the connection") << HttpTestServer::Framing::Close << false << 0;
    QTest::newRow("hashed, Content-Length") << HttpTestServer::Framing::ContentLength << true << 0;
    QTest::newRow("hashed, chunked") << HttpTestServer::Framing::Chunked << true << 0;
    QTest::newRow("hashed, slow body") << HttpTestServer::Framing::Chunked << true << 20;
}

void tst_Downloader::wholeBody()
{
    QFETCH(HttpTestServer::Framing, framing);
    QFETCH(bool, hashing);
    QFETCH(int, pauseMs);
    // Larger than the reply's read buffer and the hash backlog, in pieces that divide neither.
    const qint64 size = pauseMs > 0 ? 1024 * 1024 + 7 : 9 * 1024 * 1024 + 7;
    HttpTestServer::Response response = package(QByteArray());
    response.generatedSize = size;
    response.framing = framing;
    response.pieceSize = 100000;
    response.pauseMs = pauseMs;
    server->respond("/pkg", response);

    Downloader downloader(nullptr);
    downloader.setHashing(hashing);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, server->url("/pkg")));

    QVERIFY2(downloader.succeeded(), qPrintable(downloader.errorString()));
    QCOMPARE(downloader.httpStatus(), 200);
    const QString final = target.filePath("pkg.zip");
    const QByteArray served = HttpTestServer::generated(0, size);
    QVERIFY(testsupport::readFile(final) == served);
    QCOMPARE(downloader.digest(), hashing ? blake2b(served) : QByteArray());
    QVERIFY(downloader.identity().isValid());
    QCOMPARE(downloader.identity(), FileIdentity::of(final));
    QCOMPARE(downloader.identity().size(), size);
    QCOMPARE(recorder.progress.last().first, size);
}

void tst_Downloader::hostileServers_data()
{
    QTest::addColumn<E>("kind");
    QTest::addColumn<HttpTestServer::Response>("response");
    QTest::addColumn<QString>("address"); // empty: the server's /pkg
    QTest::addColumn<QString>("reason"); // how errorString() starts; the system's words follow
    QTest::addColumn<int>("minMs");
    // 1: the partial name is a directory; 2: disk full; 3: another updater downloads there
    QTest::addColumn<int>("special");
    auto row = [](const char *name, E kind) -> QTestData & { return QTest::newRow(name) << kind; };

    HttpTestServer::Response missing = package("gone");
    missing.status = 404;
    row("404", E::Refused) << missing << QString() << "HTTP status 404" << 0 << 0;

    HttpTestServer::Response moved = package("elsewhere");
    moved.status = 302;
    moved.headers.append(qMakePair(QByteArray("Location"), QByteArray("/pkg")));
    row("302, not followed", E::Refused) << moved << QString() << "HTTP status 302" << 0 << 0;

    HttpTestServer::Response partial = package("half of it");
    partial.status = 206;
    row("206", E::Refused) << partial << QString() << "HTTP status 206" << 0 << 0;

    row("empty 200", E::Refused) << package("") << QString() << "empty body" << 0 << 0;

    HttpTestServer::Response cut = package(QByteArray());
    cut.generatedSize = 1024 * 1024;
    cut.stopAfter = 256 * 1024;
    row("cut short, Content-Length", E::Network)
            << cut << QString() << "connection closed after 262144 of 1048576 bytes" << 0 << 0;
    cut.framing = HttpTestServer::Framing::Chunked;
    row("cut short, chunked", E::Network) << cut << QString() << "Connection closed" << 0 << 0;
    cut.pieceSize = 16 * 1024;
    cut.pauseMs = 100;
    row("another update running", E::Busy)
            << cut << QString() << "another update is running" << 0 << 3;

    HttpTestServer::Response silent = package("never sent");
    silent.silent = true;
    row("silent after accept", E::Timeout) << silent << QString() << "no data for 2 s" << 2000 << 0;
    HttpTestServer::Response stalled = package(QByteArray());
    stalled.generatedSize = 1024 * 1024;
    stalled.stopAfter = 0;
    stalled.cut = HttpTestServer::Cut::Stall;
    row("stall after headers", E::Timeout)
            << stalled << QString() << "no data for 2 s" << 2000 << 0;
    stalled.stopAfter = 300 * 1024;
    row("stall mid-body", E::Timeout) << stalled << QString() << "no data for 2 s" << 2000 << 0;
    HttpTestServer::Response drip = package(QByteArray());
    drip.generatedSize = 1024 * 1024;
    drip.pieceSize = 16;
    drip.pauseMs = 50;
    row("drip", E::Timeout) << drip << QString() << "too slow: less than 4 KiB in 4 s" << 4000 << 0;

    // 4 MB of zeros deflated: a bomb if anything inflated it.
    HttpTestServer::Response gzip = package(QByteArray());
    gzip.generatedSize = 4 * 1024 * 1024;
    gzip.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    QTest::newRow("gzip body") << E::Refused << gzip << QString()
                               << "compressed answer refused (Content-Encoding: gzip)" << 0 << 0;

    QTest::newRow("file://") << E::Refused << package("x") << "file:///etc/hostname"
                             << "not an http or https address" << 0 << 0;
    QTest::newRow("ftp://") << E::Refused << package("x") << "ftp://127.0.0.1/pkg.zip"
                            << "not an http or https address" << 0 << 0;
    // Nothing listens on port 1 of the loopback.
    row("connection refused", E::Network) << package("x") << "http://127.0.0.1:1/pkg.zip"
                                          << "Connection refused" << 0 << 0;
    row("partial file cannot be written", E::WriteFailed)
            << package("x") << QString() << "cannot write pkg.zip.part: " << 0 << 1;

    HttpTestServer::Response large = package(QByteArray());
    large.generatedSize = 8 * 1024 * 1024;
    QTest::newRow("disk full") << E::DiskFull << large << QString()
                               << "disk full: cannot write pkg.zip.part: " << 0 << 2;
}

void tst_Downloader::hostileServers()
{
    QFETCH(HttpTestServer::Response, response);
    QFETCH(QString, address);
    QFETCH(QString, reason);
    QFETCH(int, minMs);
    QFETCH(int, special);
    server->respond("/pkg", response);
    seedApplication();
    QVERIFY(target.mkpath("."));
    std::unique_ptr<testplatform::TestMount> volume;
    if (special == 2) {
        volume = std::make_unique<testplatform::TestMount>(target.path(), 1 << 20);
        if (!volume->isMounted())
            QSKIP(qPrintable(volume->whyNot()));
    }
    const QString final = target.filePath("pkg.zip");
    QVERIFY(testsupport::writeFile(final, "older package"));
    if (special == 1)
        QVERIFY(target.mkdir("pkg.zip.part"));
    QProcess other;
    if (special == 3) {
        // The real start-up, its dialog fetching the same package slowly into the same folder.
        // Windows would load the stand-in Qt library beside it instead of Qt's.
        QVERIFY(QFile::remove(app.filePath("Qt5Core.dll")));
        const QString updater = app.filePath(testplatform::programFile("second-updater"));
        QVERIFY(QFile::copy(STARTUP_PROBE, updater));
        const QString url = server->url("/pkg").toString();
        server->respond("/updates.json",
                        package(testsupport::manifest(
                                { { "latest-version", "1.3.0" }, { "download-url", url } })));
        qputenv("PROBE_MANIFEST_URL", server->url("/updates.json").toEncoded());
        other.start(updater, { "1.2.3" });
        qunsetenv("PROBE_MANIFEST_URL");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(final + ".part"), 20000);
    }
    const auto installed = snapshot(app);

    Downloader downloader(nullptr);
    downloader.setHashing(true);
    Recorder recorder(downloader);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(fetch(downloader, recorder, address.isEmpty() ? server->url("/pkg") : QUrl(address)));
    const qint64 took = clock.elapsed();
    if (special == 3) {
        QVERIFY(QFile::exists(final + ".part"));
        QTRY_COMPARE_WITH_TIMEOUT(other.state(), QProcess::NotRunning, 20000);
    }

    QVERIFY2(downloader.errorString().startsWith(reason), qPrintable(downloader.errorString()));
    QTEST(downloader.error(), "kind");
    QVERIFY(!downloader.succeeded());
    QCOMPARE(recorder.finishedCount(), 1);
    QVERIFY2(took >= minMs && took < minMs + 3000, qPrintable(QString::number(took)));
    QCOMPARE(downloader.digest(), QByteArray());
    QVERIFY(!downloader.identity().isValid());
    // The older package keeps its name, nothing half-made is left, and the application is
    // untouched.
    QCOMPARE(testsupport::readFile(final), QByteArray("older package"));
    QCOMPARE(target.entryList(QDir::Files | QDir::Hidden), QStringList("pkg.zip"));
    QCOMPARE(snapshot(app), installed);
}

void tst_Downloader::cancelEndsAsFailure()
{
    HttpTestServer::Response slow = package(QByteArray());
    slow.generatedSize = 1024 * 1024;
    slow.pieceSize = 4096;
    slow.pauseMs = 20;
    server->respond("/pkg", slow);

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    downloader.cancel(); // idle: nothing to end, nothing emitted
    downloader.setTargetDirectory(target.path());
    downloader.download(server->url("/pkg").toString());
    QTRY_VERIFY(QFileInfo(target.filePath("pkg.zip.part")).size() > 0);
    downloader.cancel();
    QTRY_COMPARE(recorder.finishedCount(), 1);

    QCOMPARE(downloader.errorString(), QStringLiteral("cancelled"));
    QCOMPARE(downloader.error(), E::Cancelled);
    QVERIFY(!downloader.succeeded());
    QCOMPARE(target.entryList(QDir::Files | QDir::Hidden), QStringList());
    QTest::qWait(100);
    QCOMPARE(recorder.finishedCount(), 1);
}

void tst_Downloader::destroyedMidTransferLeavesNoPart()
{
    const qint64 arrived = 3 * 1024 * 1024;
    HttpTestServer::Response response = package(QByteArray());
    response.generatedSize = 64 * 1024 * 1024;
    response.stopAfter = arrived;
    response.cut = HttpTestServer::Cut::Stall;
    server->respond("/pkg", response);
    const QString part = target.filePath("pkg.zip.part");

    {
        Downloader downloader(nullptr);
        downloader.setHashing(true);
        Recorder recorder(downloader);
        downloader.setTargetDirectory(target.path());
        downloader.download(server->url("/pkg").toString());
        // Written as the bytes arrive, not at the end.
        QTRY_COMPARE(QFileInfo(part).size(), arrived);
        QCOMPARE(recorder.finishedCount(), 0);
    }
    QCOMPARE(target.entryList(QDir::Files | QDir::Hidden), QStringList());
}

void tst_Downloader::leftoversAreCleaned_data()
{
    QTest::addColumn<bool>("backupExists");
    QTest::newRow("first backup of the day") << false;
    QTest::newRow("that day's backup exists") << true;
}

void tst_Downloader::leftoversAreCleaned()
{
    QFETCH(bool, backupExists);
    server->respond("/pkg", package("new"));
    QVERIFY(target.mkpath("."));
    const QString final = target.filePath("pkg.zip");
    QVERIFY(testsupport::writeFile(final, "older package"));
    QVERIFY(testsupport::writeFile(final + ".part",
                                   "a stale partial file, longer than the new body"));
    QVERIFY(testsupport::writeFile(target.filePath("other.zip.part"),
                                   "a partial file of another run"));
    if (backupExists)
        QVERIFY(testsupport::writeFile(dated(final), "backup"));

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, server->url("/pkg")));

    QVERIFY(downloader.succeeded());
    QCOMPARE(downloader.file()->fileName(), final);
    QCOMPARE(testsupport::readFile(final), QByteArray("new"));
    QCOMPARE(testsupport::readFile(dated(final)),
             QByteArray(backupExists ? "backup" : "older package"));
    QCOMPARE(target.entryList(QDir::Files | QDir::Hidden),
             QStringList({ "pkg.zip", "pkg.zip_" + QDate::currentDate().toString("yyyy-MM-dd") }));
}

void tst_Downloader::earlierPackageBecomesDatedBackup()
{
    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    const QString final = target.filePath("pkg.zip");
    for (const QByteArray version : { "v1", "v2", "v3" }) {
        server->respond("/pkg", package(version));
        QVERIFY(fetch(downloader, recorder, server->url("/pkg")));
        QVERIFY(downloader.succeeded());
        QCOMPARE(testsupport::readFile(final), version);
    }
    // v2 went away entirely: v1 already held that day's backup, which stays as it was.
    QCOMPARE(testsupport::readFile(dated(final)), QByteArray("v1"));
    QCOMPARE(target.entryList(QDir::Files).size(), 2);
}

void tst_Downloader::busyWhileUnderWay()
{
    HttpTestServer::Response slow = package("0123456789");
    slow.pieceSize = 2;
    slow.pauseMs = 50;
    server->respond("/slow", slow);
    server->respond("/other", package("other", "other.zip"));

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    downloader.setTargetDirectory(target.path());
    downloader.download(server->url("/slow").toString());
    downloader.download(server->url("/other").toString());
    QTRY_VERIFY(!recorder.progress.isEmpty());
    downloader.download(server->url("/other").toString());
    QTRY_COMPARE(recorder.finishedCount(), 1);

    QCOMPARE(server->requests(), QStringList("/slow"));
    QCOMPARE(recorder.events, QStringList("finished"));
    QCOMPARE(testsupport::readFile(target.filePath("pkg.zip")), QByteArray("0123456789"));
}

void tst_Downloader::emptyAddressThenRealOne()
{
    server->respond("/pkg", package("body"));
    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    downloader.download(QString());
    QVERIFY(fetch(downloader, recorder, server->url("/pkg")));
    // An empty address now repeats the stored one.
    QVERIFY(fetch(downloader, recorder, QUrl()));

    QCOMPARE(server->requests(), QStringList({ "/pkg", "/pkg" }));
    QCOMPARE(recorder.events, QStringList({ "finished", "finished" }));
    QVERIFY(downloader.succeeded());
}

void tst_Downloader::signalOrder()
{
    HttpTestServer::Response first = package(QByteArray());
    first.generatedSize = 2 * 1024 * 1024;
    first.framing = HttpTestServer::Framing::Chunked;
    first.pieceSize = 256 * 1024;
    first.pauseMs = 20;
    server->respond("/first", first);
    server->respond("/second", package("second", "second.zip"));
    const QString final = target.filePath("pkg.zip");

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    bool renamedBeforeFinished = false;
    QList<QPair<qint64, qint64>> passedOn;
    connect(&downloader, &Downloader::doFinished, this, [&] {
        if (recorder.finishedCount() > 1)
            return;
        renamedBeforeFinished = QFile::exists(final) && !QFile::exists(final + ".part");
        passedOn = recorder.progress;
        downloader.download(server->url("/second").toString());
    });
    downloader.setTargetDirectory(target.path());
    downloader.download(server->url("/first").toString());
    auto *reply = downloader.findChild<QNetworkReply *>();
    QVERIFY(reply);
    QSignalSpy reports(reply, &QNetworkReply::downloadProgress);
    QTRY_COMPARE(recorder.finishedCount(), 2);

    QVERIFY(renamedBeforeFinished);
    QList<QPair<qint64, qint64>> reported;
    for (const QList<QVariant> &report : qAsConst(reports))
        reported.append({ report.at(0).toLongLong(), report.at(1).toLongLong() });
    QVERIFY(reported.size() > 1);
    QCOMPARE(passedOn, reported);
    QCOMPARE(passedOn.first().second, qint64(-1)); // chunked: no size until the end
    QCOMPARE(testsupport::readFile(target.filePath("second.zip")), QByteArray("second"));
}

void tst_Downloader::defaultTargetIsDownloadFolder()
{
    const QString name = QStringLiteral("tst_downloader_default.bin");
    const QDir folder(QCoreApplication::applicationDirPath() + '/' + Downloader::folderName());
    const bool existed = folder.exists();
    const QString final = folder.filePath(name);
    const auto removeIt = qScopeGuard([&] {
        QFile::remove(final);
        if (!existed)
            folder.rmdir(".");
    });
    server->respond("/pkg", package("here", name.toUtf8()));

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    downloader.download(server->url("/pkg").toString());
    QTRY_COMPARE(recorder.finishedCount(), 1);
    QCOMPARE(downloader.file()->fileName(), final);
    QCOMPARE(testsupport::readFile(final), QByteArray("here"));
}

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_downloader.moc"
