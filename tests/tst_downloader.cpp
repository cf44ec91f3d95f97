#include "download/downloader.h"
#include "httptestserver.h"

#include <QDate>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(HttpTestServer::Framing)
Q_DECLARE_METATYPE(HttpTestServer::Response)

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

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

QString dated(const QString &path)
{
    return path + '_' + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void metaObjectHasThreeSignals();
    void names_data();
    void names();
    void noUsableNameKeepsEarlierOne();
    void wholeBody_data();
    void wholeBody();
    void writesAsBytesArrive_data();
    void writesAsBytesArrive();
    void failedTransferKeepsPartialName_data();
    void failedTransferKeepsPartialName();
    void leftoversUnderNewName_data();
    void leftoversUnderNewName();
    void earlierPackageBecomesDatedBackup();
    void busyWhileUnderWay();
    void emptyAddressThenRealOne();
    void signalOrder();
    void defaultTargetIsApplicationDirectory();

private:
    // Downloads url into the target directory; false when no doFinished came in time.
    bool fetch(Downloader &downloader, Recorder &recorder, const QUrl &url);

    QScopedPointer<QTemporaryDir> tmp;
    QScopedPointer<HttpTestServer> server;
    QDir target;
    QString previousCurrent;
};

void tst_Downloader::init()
{
    tmp.reset(new QTemporaryDir);
    QVERIFY(tmp->isValid());
    server.reset(new HttpTestServer);
    target.setPath(tmp->filePath(QStringLiteral("app")));
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
    QTest::newRow("greedy: runs to the last quote")
            << "/get" << QByteArray("attachment; filename=\"pkg.zip\"; size=\"9\"")
            << "pkg.zip\"; size=\"9";
    QTest::newRow("two names: the second")
            << "/get" << QByteArray("filename=\"a.zip\"; filename=\"b.zip\"") << "b.zip";
    QTest::newRow("percent-encoded UTF-8")
            << "/get" << QByteArray("attachment; filename=\"%E6%9B%B4%E6%96%B0.zip\"")
            << QString::fromUtf8("\xe6\x9b\xb4\xe6\x96\xb0.zip");
    QTest::newRow("raw UTF-8") << "/get" << QByteArray("attachment; filename=\"\xe6\x9b\xb4.zip\"")
                               << QString::fromUtf8("\xe6\x9b\xb4.zip");
    QTest::newRow("filename*") << "/get"
                               << QByteArray("attachment; filename*=UTF-8''%E6%9B%B4%20v2.zip")
                               << QString::fromUtf8("\xe6\x9b\xb4 v2.zip");
    QTest::newRow("unquoted: the URL's name")
            << "/files/pkg-1.2.zip" << QByteArray("attachment; filename=other.zip")
            << "pkg-1.2.zip";
    QTest::newRow("no header: the URL's name, decoded")
            << "/files/%E6%9B%B4%20new.zip" << QByteArray()
            << QString::fromUtf8("\xe6\x9b\xb4 new.zip");
    QTest::newRow("relative path")
            << "/get" << QByteArray("filename=\"../../evil.zip\"") << "evil.zip";
    QTest::newRow("absolute path")
            << "/get" << QByteArray("filename=\"/tmp/evil.zip\"") << "evil.zip";
    QTest::newRow("Windows path") << "/get" << QByteArray("filename=\"C:\\Windows\\evil.exe\"")
                                  << "evil.exe";
    QTest::newRow("dot-dot alone: the URL's name")
            << "/files/pkg.zip" << QByteArray("filename=\"..\"") << "pkg.zip";
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

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, server->url(path)));

    QVERIFY(downloader.succeeded());
    QCOMPARE(target.entryList(QDir::Files), QStringList(expected));
    QCOMPARE(downloader.file()->fileName(), target.filePath(expected));
    QCOMPARE(contents(target.filePath(expected)), QByteArray("payload"));
    // Nothing beside the target directory: only it and the working directory.
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
    // No name at all on a new object: the bytes stay in ".part".
    QVERIFY(fetch(downloader, recorder, server->url("/")));
    QVERIFY(!downloader.succeeded());
    QCOMPARE(contents(target.filePath(".part")), QByteArray("first"));
    QCOMPARE(downloader.file()->fileName(), target.path());

    QVERIFY(fetch(downloader, recorder, server->url("/named")));
    bare.body = "third";
    server->respond("/", bare);
    QVERIFY(fetch(downloader, recorder, server->url("/")));
    QVERIFY(downloader.succeeded());
    QCOMPARE(contents(target.filePath("pkg.zip")), QByteArray("third"));
    QCOMPARE(contents(dated(target.filePath("pkg.zip"))), QByteArray("second"));
}

void tst_Downloader::wholeBody_data()
{
    QTest::addColumn<HttpTestServer::Framing>("framing");
    QTest::newRow("Content-Length") << HttpTestServer::Framing::ContentLength;
    QTest::newRow("chunked") << HttpTestServer::Framing::Chunked;
    QTest::newRow("ends with the connection") << HttpTestServer::Framing::Close;
}

void tst_Downloader::wholeBody()
{
    QFETCH(HttpTestServer::Framing, framing);
    // Larger than the reply's read buffer, in pieces that do not divide it.
    const qint64 size = 9 * 1024 * 1024 + 7;
    HttpTestServer::Response response = package(QByteArray());
    response.generatedSize = size;
    response.framing = framing;
    response.pieceSize = 100000;
    server->respond("/pkg", response);

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, server->url("/pkg")));

    QVERIFY(downloader.succeeded());
    QCOMPARE(downloader.httpStatus(), 200);
    QVERIFY(contents(target.filePath("pkg.zip")) == HttpTestServer::generated(0, size));
    QVERIFY(!recorder.progress.isEmpty());
    QCOMPARE(recorder.progress.last().first, size);
}

void tst_Downloader::writesAsBytesArrive_data()
{
    QTest::addColumn<HttpTestServer::Framing>("framing");
    QTest::newRow("Content-Length") << HttpTestServer::Framing::ContentLength;
    QTest::newRow("chunked") << HttpTestServer::Framing::Chunked;
}

void tst_Downloader::writesAsBytesArrive()
{
    QFETCH(HttpTestServer::Framing, framing);
    const qint64 arrived = 3 * 1024 * 1024;
    HttpTestServer::Response response = package(QByteArray());
    response.generatedSize = 64 * 1024 * 1024;
    response.framing = framing;
    response.stopAfter = arrived;
    response.cut = HttpTestServer::Cut::Stall;
    server->respond("/pkg", response);
    const QString part = target.filePath("pkg.zip.part");

    {
        Downloader downloader(nullptr);
        Recorder recorder(downloader);
        downloader.setTargetDirectory(target.path());
        downloader.download(server->url("/pkg").toString());
        QTRY_COMPARE(QFileInfo(part).size(), arrived);
        QCOMPARE(recorder.finishedCount(), 0);
    }
    // Gone mid-transfer: what arrived stays under the partial name.
    QVERIFY(contents(part) == HttpTestServer::generated(0, arrived));
    QVERIFY(!QFile::exists(target.filePath("pkg.zip")));
}

void tst_Downloader::failedTransferKeepsPartialName_data()
{
    QTest::addColumn<HttpTestServer::Response>("response");
    QTest::addColumn<QString>("address"); // empty: the server's /pkg
    QTest::addColumn<bool>("partIsDirectory");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("part"); // null: no partial file

    HttpTestServer::Response missing = package("gone");
    missing.status = 404;
    QTest::newRow("404") << missing << QString() << false << QNetworkReply::ContentNotFoundError
                         << 404 << QByteArray("gone");

    HttpTestServer::Response moved = package("elsewhere");
    moved.status = 302;
    moved.headers.append(qMakePair(QByteArray("Location"), QByteArray("/pkg")));
    QTest::newRow("302, not followed") << moved << QString() << false << QNetworkReply::NoError
                                       << 302 << QByteArray("elsewhere");

    HttpTestServer::Response cut = package(QByteArray());
    cut.generatedSize = 1024 * 1024;
    cut.stopAfter = 256 * 1024;
    const QByteArray arrived = HttpTestServer::generated(0, cut.stopAfter);
    QTest::newRow("cut short, Content-Length")
            << cut << QString() << false << QNetworkReply::RemoteHostClosedError << 200 << arrived;
    cut.framing = HttpTestServer::Framing::Chunked;
    QTest::newRow("cut short, chunked")
            << cut << QString() << false << QNetworkReply::RemoteHostClosedError << 200 << arrived;

    QTest::newRow("empty body") << package("") << QString() << false << QNetworkReply::NoError
                                << 200 << QByteArray();
    QTest::newRow("partial file cannot be written")
            << package("x") << QString() << true << QNetworkReply::OperationCanceledError << 200
            << QByteArray();
    // Nothing listens on port 1 of the loopback.
    QTest::newRow("connection refused")
            << package("x") << "http://127.0.0.1:1/pkg.zip" << false
            << QNetworkReply::ConnectionRefusedError << 0 << QByteArray();
    QTest::newRow("unusable address") << package("x") << "nohttp://127.0.0.1/pkg.zip" << false
                                      << QNetworkReply::ProtocolUnknownError << 0 << QByteArray();
}

void tst_Downloader::failedTransferKeepsPartialName()
{
    QFETCH(HttpTestServer::Response, response);
    QFETCH(QString, address);
    QFETCH(bool, partIsDirectory);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(int, status);
    QFETCH(QByteArray, part);
    server->respond("/pkg", response);
    QVERIFY(target.mkpath("."));
    const QString final = target.filePath("pkg.zip");
    write(final, "older package");
    if (partIsDirectory)
        QVERIFY(target.mkdir("pkg.zip.part"));

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, address.isEmpty() ? server->url("/pkg") : QUrl(address)));

    QStringList expected { "finished" };
    if (error != QNetworkReply::NoError)
        expected.prepend("error:" + key(error));
    QCOMPARE(recorder.events, expected);
    QCOMPARE(downloader.error(), error);
    QCOMPARE(downloader.httpStatus(), status);
    QVERIFY(!downloader.succeeded());
    // The older package keeps the final name: nothing half-made takes it, nor moves it away.
    QCOMPARE(contents(final), QByteArray("older package"));
    QVERIFY(!QFile::exists(dated(final)));
    QCOMPARE(QFileInfo(final + ".part").isFile(), !part.isNull());
    QCOMPARE(contents(final + ".part"), part);
    QCOMPARE(server->requests(), address.isEmpty() ? QStringList("/pkg") : QStringList());
}

void tst_Downloader::leftoversUnderNewName_data()
{
    QTest::addColumn<bool>("backupExists");
    QTest::newRow("first backup of the day") << false;
    QTest::newRow("that day's backup exists") << true;
}

void tst_Downloader::leftoversUnderNewName()
{
    QFETCH(bool, backupExists);
    server->respond("/pkg", package("new"));
    QVERIFY(target.mkpath("."));
    const QString final = target.filePath("pkg.zip");
    write(final, "older package");
    write(final + ".part", "a stale partial file, longer than the new body");
    if (backupExists)
        write(dated(final), "backup");

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    QVERIFY(fetch(downloader, recorder, server->url("/pkg")));

    QVERIFY(downloader.succeeded());
    QCOMPARE(downloader.file()->fileName(), final);
    QCOMPARE(contents(final), QByteArray("new"));
    QVERIFY(!QFile::exists(final + ".part"));
    QCOMPARE(contents(dated(final)), QByteArray(backupExists ? "backup" : "older package"));
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
        QCOMPARE(contents(final), version);
    }
    // v2 went away entirely: v1 already held that day's backup, which stays as it was.
    QCOMPARE(contents(dated(final)), QByteArray("v1"));
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
    QCOMPARE(contents(target.filePath("pkg.zip")), QByteArray("0123456789"));
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
    QCOMPARE(contents(target.filePath("second.zip")), QByteArray("second"));
}

void tst_Downloader::defaultTargetIsApplicationDirectory()
{
    const QString name = QStringLiteral("tst_downloader_default.bin");
    const QString final = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    const auto removeIt = qScopeGuard([&] { QFile::remove(final); });
    server->respond("/pkg", package("here", name.toUtf8()));

    Downloader downloader(nullptr);
    Recorder recorder(downloader);
    downloader.download(server->url("/pkg").toString());
    QTRY_COMPARE(recorder.finishedCount(), 1);
    QCOMPARE(downloader.file()->fileName(), final);
    QCOMPARE(contents(final), QByteArray("here"));
}

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_downloader.moc"
