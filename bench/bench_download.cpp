// Downloads one large generated body from 127.0.0.1 with the Downloader and with curl in turns,
// with and without Content-Length, checks the SHA-256 of every copy and prints the median times,
// their ratio and the peak resident memory of both.
//
//     bench_download [--size BYTES] [--runs N] [--dir DIRECTORY]

#include "download/downloader.h"
#include "httptestserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <unistd.h>

#include <algorithm>

namespace {

struct Mode
{
    const char *label;
    const char *path;
    HttpTestServer::Framing framing;
};

const Mode modes[] = {
    { "Content-Length", "/sized", HttpTestServer::Framing::ContentLength },
    { "chunked, no Content-Length", "/chunked", HttpTestServer::Framing::Chunked },
};

QTextStream out(stdout);

// Serves from its own thread, so that serving shares no event loop with the Downloader.
class ServingThread : public QThread
{
public:
    explicit ServingThread(qint64 size)
        : size(size)
    { }
    // Starts serving; the address of the server's root.
    QUrl serve()
    {
        start();
        ready.acquire();
        return root;
    }

protected:
    void run() override
    {
        HttpTestServer server;
        for (const Mode &mode : modes) {
            HttpTestServer::Response response;
            response.generatedSize = size;
            response.framing = mode.framing;
            response.pieceSize = 256 * 1024;
            response.headers = { { "Content-Disposition", "attachment; filename=\"bench.bin\"" } };
            server.respond(QString::fromLatin1(mode.path), response);
        }
        root = server.url(QStringLiteral("/"));
        ready.release();
        exec();
    }

private:
    const qint64 size;
    QUrl root;
    QSemaphore ready;
};

QByteArray sha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "unreadable";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 length;
    while ((length = file.read(buffer.data(), buffer.size())) > 0)
        hash.addData(buffer.constData(), int(length));
    return hash.result().toHex();
}

QByteArray expectedSha256(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 piece = 1 << 20;
    for (qint64 at = 0; at < size; at += piece)
        hash.addData(HttpTestServer::generated(at, qMin(piece, size - at)));
    return hash.result().toHex();
}

// Peak resident memory of this process in KiB; resetPeak() starts a new peak from what is
// resident now.
qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

struct Run
{
    double seconds;
    QByteArray sha;
};

// Checks the copy and removes it, then writes back what the removal left dirty, so that the next
// run starts with a quiet disk.
QByteArray checkAndRemove(const QString &path, bool ok)
{
    const QByteArray sha = ok ? sha256(path) : QByteArray("failed");
    QFile::remove(path);
    sync();
    return sha;
}

Run viaDownloader(const QUrl &url, const QString &dir, qint64 *peak)
{
    resetPeak();
    Downloader downloader(nullptr);
    downloader.setTargetDirectory(dir);
    QEventLoop loop;
    QObject::connect(&downloader, &Downloader::doFinished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    downloader.download(url.toString());
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    *peak = qMax(*peak, peakKiB());
    return { seconds, checkAndRemove(downloader.file()->fileName(), downloader.succeeded()) };
}

// curl runs under /usr/bin/time, which reports curl's own peak: a child of this process would
// count the memory of the fork it started from.
Run viaCurl(const QUrl &url, const QString &dir, qint64 *peak)
{
    const QString path = dir + QStringLiteral("/curl.bin");
    const QString peakFile = dir + QStringLiteral("/curl.peak");
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("/usr/bin/time"),
               { "-f", "%M", "-o", peakFile, "curl", "-sS", "-o", path, url.toString() });
    curl.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile peakOut(peakFile);
    if (peakOut.open(QIODevice::ReadOnly))
        *peak = qMax(*peak, peakOut.readAll().trimmed().toLongLong());
    const bool ok = curl.exitStatus() == QProcess::NormalExit && curl.exitCode() == 0;
    return { seconds, checkAndRemove(path, ok) };
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
            { "size", "Body size in bytes (default 1 GiB).", "bytes", "1073741824" },
            { "runs", "Downloads per client and mode (default 5).", "n", "5" },
            { "dir", "Where the copies are written (default: a temporary directory).", "dir" },
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
    const QByteArray expected = expectedSha256(size);
    ServingThread serving(size);
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
            allMatch = allMatch && a.sha == expected && b.sha == expected;
            ours << a.seconds;
            curls << b.seconds;
        }
        out << QString::asprintf(
                "%-27s median Downloader %.3f s, curl %.3f s, ratio %.2f; "
                "peak RSS this process (Downloader and server) %.1f MiB, curl %.1f MiB",
                mode.label, median(ours), median(curls), median(ours) / median(curls),
                ourPeak / 1024.0, curlPeak / 1024.0)
            << Qt::endl;
    }

    serving.quit();
    serving.wait();
    return allMatch ? 0 : 1;
}
