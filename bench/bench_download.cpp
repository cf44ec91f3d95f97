// Downloads one large generated body from 127.0.0.1 with the Downloader and with curl in turns,
// with and without Content-Length, checks the SHA-256 of every copy and prints the median times,
// their ratio and the peak resident memory of both. Then, in turns again: the Downloader with
// streamed BLAKE2b-512 hashing, without it, and the hashing of the same bytes alone, whose digest
// checks the Downloader's. Last, in turns: the download cut at 25, 50 and 75 % and resumed each
// time (no delay between the requests) against the same download uncut.
//
//     bench_download [--size BYTES] [--runs N] [--dir DIRECTORY] [--rows FILE]

#include "benchsupport.h"
#include "download/downloader.h"
#include "download/networklimits.h"
#include "common/blake2b512.h"

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
    QByteArray digest = QByteArray();
};

Run viaDownloader(const QUrl &url, const QString &dir, qint64 *peak, bool hashing = false)
{
    testplatform::resetPeak();
    Downloader downloader(nullptr);
    downloader.setTargetDirectory(dir);
    downloader.setHashing(hashing);
    QEventLoop loop;
    QObject::connect(&downloader, &Downloader::doFinished, &loop, &QEventLoop::quit);
    const QMap<QString, double> cpuBefore = bench::threadCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    downloader.download(url.toString());
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const QString cpu = bench::cpuSpent(cpuBefore, bench::threadCpuSeconds());
    *peak = qMax(*peak, testplatform::peakKiB());
    const QByteArray digest = downloader.digest();
    return { seconds, bench::checkAndRemove(downloader.file()->fileName(), downloader.succeeded()),
             cpu, digest };
}

// BLAKE2b-512 of the generated body alone, in the Downloader's piece size; only the hashing is
// timed, not the making of the pieces.
Run hashAlone(qint64 size, qint64 *peak)
{
    testplatform::resetPeak();
    constexpr qint64 piece = 2 * 1024 * 1024;
    Blake2b512 hash;
    qint64 nanoseconds = 0;
    QElapsedTimer timer;
    for (qint64 offset = 0; offset < size; offset += piece) {
        const QByteArray bytes = HttpTestServer::generated(offset, qMin(piece, size - offset));
        timer.start();
        hash.addData(bytes);
        nanoseconds += timer.nsecsElapsed();
    }
    timer.start();
    const QByteArray digest = hash.result();
    nanoseconds += timer.nsecsElapsed();
    *peak = qMax(*peak, testplatform::peakKiB());
    return { nanoseconds / 1e9, QByteArray(), QString(), digest };
}

// The hashed download against the unhashed one and the hashing alone, in rotating order. Goal:
// the hashed one takes at most 1.1 x the larger of the other two.
bool hashedRows(const QUrl &url, const QString &dir, qint64 size, int runs,
                const QByteArray &expected, const QString &rowsFile)
{
    QVector<double> hashed, plain, alone;
    qint64 hashedPeak = 0, plainPeak = 0, alonePeak = 0;
    bool allMatch = true;
    for (int i = 0; i < runs; ++i) {
        Run h, p, a;
        for (int k = 0; k < 3; ++k) {
            switch ((i + k) % 3) {
            case 0:
                h = viaDownloader(url, dir, &hashedPeak, true);
                break;
            case 1:
                p = viaDownloader(url, dir, &plainPeak);
                break;
            default:
                a = hashAlone(size, &alonePeak);
            }
        }
        const bool match = h.sha == expected && p.sha == expected && h.digest == a.digest
                && a.digest.size() == Blake2b512::Size;
        out << QString::asprintf(
                "  hashed                      run %d: hashed %.3f s, unhashed %.3f "
                "s, hashing alone %.3f s, %s",
                i + 1, h.seconds, p.seconds, a.seconds,
                match ? "sha256 and blake2b ok" : "CHECKSUM MISMATCH")
            << Qt::endl;
        out << "    hashed Downloader CPU: " << h.cpu << Qt::endl;
        allMatch = allMatch && match;
        hashed << h.seconds;
        plain << p.seconds;
        alone << a.seconds;
    }
    const double hashedMedian = bench::median(hashed), plainMedian = bench::median(plain),
                 aloneMedian = bench::median(alone);
    const double larger = qMax(plainMedian, aloneMedian);
    out << QString::asprintf("hashed download             median hashed %.3f s, unhashed %.3f s, "
                             "hashing alone %.3f s, ratio to the larger %.2f; peak RSS hashed "
                             "%.1f MiB, unhashed %.1f MiB, hashing alone %.1f MiB",
                             hashedMedian, plainMedian, aloneMedian, hashedMedian / larger,
                             hashedPeak / 1024.0, plainPeak / 1024.0, alonePeak / 1024.0)
        << Qt::endl;
    bench::appendRow(rowsFile, QStringLiteral("download, Content-Length, hashed"), hashedMedian,
                     larger, QStringLiteral("larger of unhashed and hashing alone"), hashedPeak,
                     qMax(plainPeak, alonePeak));
    bench::appendRow(rowsFile, QStringLiteral("hashing alone (BLAKE2b-512), same bytes"),
                     aloneMedian, plainMedian, QStringLiteral("unhashed download"), alonePeak,
                     plainPeak);
    return allMatch;
}

// The path of run i's cut download: each run has a script of its own, four answers long.
QString cutPath(int run)
{
    return QStringLiteral("/cut?run=%1").arg(run);
}

void serveCut(HttpTestServer &server, qint64 size, int runs)
{
    HttpTestServer::Response answer;
    answer.generatedSize = size;
    answer.pieceSize = 256 * 1024;
    answer.ranges = HttpTestServer::Ranges::Honoured;
    answer.headers = { { "Content-Disposition", "attachment; filename=\"bench.bin\"" },
                       { "ETag", "\"bench\"" } };
    QList<HttpTestServer::Response> script;
    for (int quarter = 1; quarter <= 4; ++quarter) {
        // Each answer starts where the last one was cut and stops a quarter further on.
        answer.stopAfter = quarter < 4 ? size / 4 : -1;
        script.append(answer);
    }
    for (int run = 0; run < runs; ++run)
        server.respond(cutPath(run), script);
}

// Goal: the cut download takes at most 1.15 x the uncut one, with peak RSS under 64 MiB.
bool cutRows(const QUrl &root, const QString &dir, int runs, const QByteArray &expected,
             const QString &rowsFile)
{
    NetworkLimits::retryDelayMs = 0;
    QVector<double> cut, whole;
    qint64 cutPeak = 0, wholePeak = 0;
    bool allMatch = true;
    for (int i = 0; i < runs; ++i) {
        Run c, w;
        const QUrl cutUrl = root.resolved(QUrl(cutPath(i)));
        const QUrl wholeUrl = root.resolved(QUrl(QString::fromLatin1(modes[0].path)));
        if (i % 2 == 0) {
            c = viaDownloader(cutUrl, dir, &cutPeak);
            w = viaDownloader(wholeUrl, dir, &wholePeak);
        } else {
            w = viaDownloader(wholeUrl, dir, &wholePeak);
            c = viaDownloader(cutUrl, dir, &cutPeak);
        }
        const bool match = c.sha == expected && w.sha == expected;
        out << QString::asprintf(
                "  cut three times             run %d: cut %.3f s, uncut %.3f s, %s", i + 1,
                c.seconds, w.seconds, match ? "sha256 ok" : "SHA256 MISMATCH")
            << Qt::endl;
        allMatch = allMatch && match;
        cut << c.seconds;
        whole << w.seconds;
    }
    const double cutMedian = bench::median(cut), wholeMedian = bench::median(whole);
    out << QString::asprintf("cut three times, resumed    median cut %.3f s, uncut %.3f s, ratio "
                             "%.2f; peak RSS cut %.1f MiB, uncut %.1f MiB",
                             cutMedian, wholeMedian, cutMedian / wholeMedian, cutPeak / 1024.0,
                             wholePeak / 1024.0)
        << Qt::endl;
    bench::appendRow(rowsFile, QStringLiteral("download cut at 25/50/75 %, resumed"), cutMedian,
                     wholeMedian, QStringLiteral("uncut download"), cutPeak, wholePeak);
    return allMatch;
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
    bench::ServingThread serving([size, runs](HttpTestServer &server) {
        for (const Mode &mode : modes) {
            HttpTestServer::Response response;
            response.generatedSize = size;
            response.framing = mode.framing;
            response.pieceSize = 256 * 1024;
            response.headers = { { "Content-Disposition", "attachment; filename=\"bench.bin\"" } };
            server.respond(QString::fromLatin1(mode.path), response);
        }
        serveCut(server, size, runs);
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
    allMatch = hashedRows(root.resolved(QUrl(QString::fromLatin1(modes[0].path))), tmp.path(), size,
                          runs, expected, parser.value("rows"))
            && allMatch;
    allMatch = cutRows(root, tmp.path(), runs, expected, parser.value("rows")) && allMatch;
    return allMatch ? 0 : 1;
}
