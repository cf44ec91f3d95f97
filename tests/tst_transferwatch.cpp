#include "download/network.h"
#include "download/networklimits.h"
#include "download/redirectchain.h"
#include "download/transferwatch.h"
#include "httptestserver.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(HttpTestServer::Response)
using E = TransferWatch::Error;
using Cause = NetworkFailure::Cause;
Q_DECLARE_METATYPE(Cause)

class tst_TransferWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileServers_data();
    void hostileServers();
    void requestAsksForIdentityAndStaysPut();
    void webAddresses_data();
    void webAddresses();
    void redirectRules_data();
    void redirectRules();
};

void tst_TransferWatch::initTestCase()
{
    NetworkLimits::stallTimeoutMs = 300;
    NetworkLimits::dripWindowMs = 600;
    NetworkLimits::dripMinBytes = 1024;
}

void tst_TransferWatch::hostileServers_data()
{
    QTest::addColumn<E>("kind");
    QTest::addColumn<HttpTestServer::Response>("response");
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("minMs"); // the earliest the watch may give up
    auto row = [](const char *name, E kind) -> QTestData & { return QTest::newRow(name) << kind; };

    HttpTestServer::Response fine;
    fine.generatedSize = 64 * 1024;
    fine.pieceSize = 4096;
    fine.pauseMs = 5; // within every limit, and longer than one drip window in all
    row("within limits", E::NoError) << fine << qint64(64 * 1024) << QString() << 0;

    HttpTestServer::Response big;
    big.generatedSize = 64 * 1024 + 1;
    big.stopAfter = 0;
    big.cut = HttpTestServer::Cut::Stall;
    row("Content-Length over the cap", E::Refused)
            << big << qint64(64 * 1024) << "larger than 64 KiB" << 0;
    big.framing = HttpTestServer::Framing::Chunked;
    big.stopAfter = -1;
    row("chunked over the cap", E::Refused)
            << big << qint64(64 * 1024) << "larger than 64 KiB" << 0;

    HttpTestServer::Response silent;
    silent.silent = true;
    row("silent after accept", E::Timeout) << silent << qint64(-1) << "no data for 0.3 s" << 300;

    HttpTestServer::Response stalled;
    stalled.generatedSize = 1024 * 1024;
    stalled.stopAfter = 0;
    stalled.cut = HttpTestServer::Cut::Stall;
    row("stall after headers", E::Timeout) << stalled << qint64(-1) << "no data for 0.3 s" << 300;
    stalled.stopAfter = 100000;
    row("stall mid-body", E::Timeout) << stalled << qint64(-1) << "no data for 0.3 s" << 300;

    HttpTestServer::Response cut;
    cut.generatedSize = 4 * 1024 * 1024;
    cut.stopAfter = 3 * 1024 * 1024; // long enough for Qt to report no error at the close
    row("closed before Content-Length", E::Network)
            << cut << qint64(-1) << "connection closed after 3145728 of 4194304 bytes" << 0;

    HttpTestServer::Response drip;
    drip.generatedSize = 1024 * 1024;
    drip.pieceSize = 16;
    drip.pauseMs = 40; // 400 bytes a second: never silent for long, but below the floor
    row("drip", E::Timeout) << drip << qint64(-1) << "too slow: less than 1 KiB in 0.6 s" << 600;

    HttpTestServer::Response gzip;
    gzip.body = QByteArray::fromHex("1f8b0800000000000003030000000000000000");
    gzip.headers = { { "Content-Encoding", "gzip" } };
    row("gzip body", E::Refused) << gzip << qint64(-1)
                                 << "compressed answer refused (Content-Encoding: gzip)" << 0;
}

void tst_TransferWatch::hostileServers()
{
    QFETCH(HttpTestServer::Response, response);
    QFETCH(qint64, cap);
    QFETCH(QString, reason);
    QFETCH(int, minMs);
    HttpTestServer server;
    server.respond("/x", response);
    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = Network::get(QNetworkRequest(server.url("/x")), nullptr);
    auto *watch = new TransferWatch(reply, cap);
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);

    QCOMPARE(watch->errorString(), reason);
    QTEST(watch->error(), "kind");
    QVERIFY2(clock.elapsed() >= minMs, qPrintable(QString::number(clock.elapsed())));
    // Given up within a few checks of the limit, not at the test's own timeout.
    QVERIFY2(clock.elapsed() < minMs + 3000, qPrintable(QString::number(clock.elapsed())));
    if (reason.isEmpty()) {
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll().size(), 64 * 1024);
    }
    delete reply;
}

void tst_TransferWatch::requestAsksForIdentityAndStaysPut()
{
    HttpTestServer server;
    HttpTestServer::Response moved;
    moved.status = 302;
    moved.headers = { { "Location", "/elsewhere" } };
    server.respond("/x", moved);
    QNetworkReply *reply = Network::get(QNetworkRequest(server.url("/x")), nullptr);
    QTRY_VERIFY(reply->isFinished());

    QCOMPARE(server.lastRequestHeader("accept-encoding"), QByteArray("identity"));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 302);
    QCOMPARE(server.requests(), QStringList("/x"));
    delete reply;
}

void tst_TransferWatch::webAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("refusal");
    const QString notWeb = "not an http or https address";
    QTest::newRow("http") << "http://example.org/pkg.zip" << "";
    QTest::newRow("https") << "https://example.org:8443/pkg.zip" << "";
    QTest::newRow("file") << "file:///usr/bin/true" << notWeb;
    QTest::newRow("ftp") << "ftp://example.org/pkg.zip" << notWeb;
    QTest::newRow("no host") << "http:///pkg.zip" << notWeb;
    QTest::newRow("relative") << "pkg.zip" << notWeb;
    QTest::newRow("data") << "data:text/plain,x" << notWeb;
    QTest::newRow("empty") << "" << "no address";
}

// A refused address never reaches the network: its reply fails from the event loop, and its
// watch judges it as it judges any other.
void tst_TransferWatch::webAddresses()
{
    QFETCH(QString, address);
    QFETCH(QString, refusal);
    const QUrl url(address, QUrl::TolerantMode);
    QCOMPARE(Network::refusal(url), refusal);
    QCOMPARE(Network::isWebAddress(url), refusal.isEmpty());
    if (refusal.isEmpty())
        return;
    std::unique_ptr<QNetworkReply> reply(Network::get(QNetworkRequest(url), nullptr));
    auto *watch = new TransferWatch(reply.get());
    QVERIFY(!reply->isFinished());
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 5000);
    QCOMPARE(reply->error(), QNetworkReply::ProtocolUnknownError);
    QCOMPARE(watch->error(), E::Refused);
    QCOMPARE(watch->errorString(), refusal);
    QCOMPARE(reply->readAll(), QByteArray());
}

void tst_TransferWatch::redirectRules_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QStringList>("answers"); // "<status> <Location>", in turn
    QTest::addColumn<Cause>("cause"); // of a refusal
    QTest::addColumn<QString>("current"); // where the chain stands then

    const QString tls = "https://updates.example/Morvane-1.3.zip";
    QTest::newRow("https to http")
            << tls << QStringList("302 http://cdn.example/a") << Cause::RedirectInsecure << tls;
    QTest::newRow("http to https and back")
            << "http://updates.example/m.zip"
            << QStringList { "301 https://cdn.example/a", "302 http://cdn.example/b" }
            << Cause::RedirectInsecure << "https://cdn.example/a";
    QTest::newRow("relative from https stays secure")
            << tls << QStringList("308 //cdn.example/a") << Cause::None << "https://cdn.example/a";
    QTest::newRow("304 is the answer itself") << tls << QStringList("304 /b") << Cause::None << tls;
    QTest::newRow("flood of a Location")
            << tls << QStringList("302 /" + QString(5000, 'a')) << Cause::Malformed << tls;
}

// The chain's decisions without a server: https above all, which the test server does not speak.
void tst_TransferWatch::redirectRules()
{
    QFETCH(QString, origin);
    QFETCH(QStringList, answers);
    RedirectChain chain { QUrl(origin) };
    for (const QString &answer : answers)
        chain.judge(answer.section(' ', 0, 0).toInt(), answer.section(' ', 1).toUtf8());
    QTEST(chain.failure().cause, "cause");
    QTEST(chain.current().toString(), "current");
}

QTEST_GUILESS_MAIN(tst_TransferWatch)
#include "tst_transferwatch.moc"
