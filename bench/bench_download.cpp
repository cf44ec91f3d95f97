// Downloads one large generated body from 127.0.0.1 with the Downloader and with curl in turns,
// with and without Content-Length, checks the SHA-256 of every copy and prints the median times,
// their ratio and the peak resident memory of both.
//
//     bench_download [--size BYTES] [--runs N] [--dir DIRECTORY] [--rows FILE]

#include "benchsupport.h"
#include "download/downloader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

struct Mode
{
    const char *label;
    const char *row;
    const char *path;
    HttpTestServer::Framing framing;
};

const Mode modes[] = {
    { "Content-Length", "download, Content-Length, in-process server", "/sized",
      HttpTestServer::Framing::ContentLength },
    { "chunked, no Content-Length", "download, chunked, in-process server", "/chunked",
      HttpTestServer::Framing::Chunked },
};

QTextStream out(stdout);

struct Run
{
    double seconds;
    QByteArray sha;
    QString cpu;
};

Run viaDownloader(const QUrl &url, const QString &dir, qint64 *peak)
{
    bench::resetPeak();
    Downloader downloader(nullptr);
    downloader.setTargetDirectory(dir);
    QEventLoop loop;
    QObject::connect(&downloader, &Downloader::doFinished, &loop, &QEventLoop::quit);
    const QMap<QString, double> cpuBefore = bench::threadCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    downloader.download(url.toString());
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const QString cpu = bench::cpuSpent(cpuBefore, bench::threadCpuSeconds());
    *peak = qMax(*peak, bench::peakKiB());
    return { seconds, bench::checkAndRemove(downloader.file()->fileName(), downloader.succeeded()),
             cpu };
}

Run viaCurl(const QUrl &url, const QString &dir, qint64 *peak)
{
    const bench::CurlRun run = bench::curl(url, dir + QStringLiteral("/curl.bin"));
    *peak = qMax(*peak, run.peakKiB);
    return { run.seconds, run.sha, QString() };
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
            { "size", "Body size in bytes (default 1 GiB).", "bytes", "1073741824" },
            { "runs", "Downloads per client and mode (default 3).", "n", "3" },
            { "dir", "Where the copies are written (default: a temporary directory).", "dir" },
            { "rows", "Append the result rows for bench/run's table to this file.", "file" },
    });
    parser.process(app);
    const qint64 size = parser.value("size").toLongLong();
    const int runs = qMax(1, parser.value("runs").toInt());
    QTemporaryDir tmp(parser.isSet("dir") ? parser.value("dir") + "/bench-XXXXXX" : QString());
    if (size <= 0 || !tmp.isValid()) {
        out << "bench_download: bad size or no directory to write in" << Qt::endl;
        return 2;
    }

    out << "body: " << size << " bytes, " << runs << " runs per client and mode, in " << tmp.path()
        << Qt::endl;
    const QByteArray expected = bench::generatedSha256(size);
    bench::ServingThread serving([size](HttpTestServer &server) {
        for (const Mode &mode : modes) {
            HttpTestServer::Response response;
            response.generatedSize = size;
            response.framing = mode.framing;
            response.pieceSize = 256 * 1024;
            response.headers = { { "Content-Disposition", "attachment; filename=\"bench.bin\"" } };
            server.respond(QString::fromLatin1(mode.path), response);
        }
    });
    const QUrl root = serving.serve();

    bool allMatch = true;
    for (const Mode &mode : modes) {
        const QUrl url = root.resolved(QUrl(QString::fromLatin1(mode.path)));
        QVector<double> ours, curls;
        qint64 ourPeak = 0, curlPeak = 0;
        for (int i = 0; i < runs; ++i) {
            // Alternate who goes first, so that neither always meets a warmer cache.
            Run a, b;
            if (i % 2 == 0) {
                a = viaDownloader(url, tmp.path(), &ourPeak);
                b = viaCurl(url, tmp.path(), &curlPeak);
            } else {
                b = viaCurl(url, tmp.path(), &curlPeak);
                a = viaDownloader(url, tmp.path(), &ourPeak);
            }
            out << QString::asprintf("  %-27s run %d: Downloader %.3f s %s, curl %.3f s %s",
                                     mode.label, i + 1, a.seconds,
                                     a.sha == expected ? "sha256 ok" : "SHA256 MISMATCH", b.seconds,
                                     b.sha == expected ? "sha256 ok" : "SHA256 MISMATCH")
                << Qt::endl;
            out << "    Downloader CPU: " << a.cpu << Qt::endl;
            allMatch = allMatch && a.sha == expected && b.sha == expected;
            ours << a.seconds;
            curls << b.seconds;
        }
        const double ourMedian = bench::median(ours), curlMedian = bench::median(curls);
        out << QString::asprintf(
                "%-27s median Downloader %.3f s, curl %.3f s, ratio %.2f; "
                "peak RSS this process (Downloader and server) %.1f MiB, curl %.1f MiB",
                mode.label, ourMedian, curlMedian, ourMedian / curlMedian, ourPeak / 1024.0,
                curlPeak / 1024.0)
            << Qt::endl;
        bench::appendRow(parser.value("rows"), QString::fromLatin1(mode.row), ourMedian, curlMedian,
                         QStringLiteral("curl"), ourPeak, curlPeak);
    }
    return allMatch ? 0 : 1;
}
