// BLAKE2b-512 of a body held in memory, fed in the 2 MiB pieces the Downloader writes, so the
// figure is the hashing alone, to set beside a download of the same size.
//
//     bench_hash [--size BYTES] [--runs N]
#include "benchsupport.h"
#include "verify/blake2b512.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <ctime>

namespace {

// CPU time of this thread: on a shared machine the wall time also counts other people's work.
double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("BLAKE2b-512 throughput in memory"));
    parser.addHelpOption();
    parser.addOptions({ { "size", "Bytes hashed per run (default 1 GiB).", "bytes", "1073741824" },
                        { "runs", "Runs; the median is reported (default 5).", "n", "5" } });
    parser.process(app);
    const qint64 size = parser.value("size").toLongLong();
    const int runs = parser.value("runs").toInt();
    if (size <= 0 || runs <= 0)
        parser.showHelp(2);

    // One piece, hashed again and again: the pieces of a download are as cold or warm as this.
    constexpr qint64 Piece = 2 * 1024 * 1024;
    QByteArray piece(Piece, Qt::Uninitialized);
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = char(i * 131 + (i >> 12));

    QVector<double> seconds, cpuSeconds;
    QByteArray digest;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuSeconds();
        Blake2b512 hash;
        for (qint64 done = 0; done < size; done += Piece)
            hash.addData(piece.constData(), qMin(Piece, size - done));
        digest = hash.result();
        seconds << timer.nsecsElapsed() / 1e9;
        cpuSeconds << threadCpuSeconds() - cpuStart;
    }
    const double median = bench::median(seconds);
    const double cpuMedian = bench::median(cpuSeconds);
    QTextStream(stdout) << QStringLiteral("BLAKE2b-512 of %1 bytes: median %2 s, %3 GB/s; "
                                          "CPU %4 s, %5 GB/s (%6)\n")
                                   .arg(size)
                                   .arg(median, 0, 'f', 3)
                                   .arg(size / median / 1e9, 0, 'f', 2)
                                   .arg(cpuMedian, 0, 'f', 3)
                                   .arg(size / cpuMedian / 1e9, 0, 'f', 2)
                                   .arg(QString::fromLatin1(digest.toHex().left(16)));
    return digest.size() == Blake2b512::Size ? 0 : 1;
}
