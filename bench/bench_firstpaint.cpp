// Time from process start to the first paint of the dialog: the real start-up of the updater
// (paintprobe_updater) against a program that shows a bare QDialog (paintprobe_bare), in turns.
// This process stamps CLOCK_MONOTONIC just before it starts a probe; the probe stamps the same
// clock at its dialog's first paint event. The difference covers fork and exec, loading the
// libraries, the application object, the platform plugin, building and showing the dialog.
//
//     bench_firstpaint [--runs N] [--label TEXT] [--rows FILE]
//
// The platform is whatever QT_QPA_PLATFORM and DISPLAY say; bench/run runs it under Xvfb and
// offscreen.

#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <QTextStream>

#include <time.h>

#include <algorithm>

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Paint
{
    double paintMs = -1; // start to the dialog's first paint event
    double frameMs = -1; // start to the end of that repaint
    qint64 peakKiB = 0;
};

Paint probe(const QString &program, const QStringList &arguments)
{
    QProcess process;
    const qint64 started = monotonicNs();
    process.start(program, arguments);
    Paint paint;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return paint;
    }
    // The offscreen platform says this at every show of a window; anything else is worth seeing.
    for (const QByteArray &line : process.readAllStandardError().split('\n')) {
        if (!line.isEmpty() && !line.contains("propagateSizeHints"))
            err << line << Qt::endl;
    }
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QByteArray value = line.mid(line.indexOf('=') + 1);
        if (line.startsWith("paint="))
            paint.paintMs = (value.toLongLong() - started) / 1e6;
        else if (line.startsWith("frame="))
            paint.frameMs = (value.toLongLong() - started) / 1e6;
        else if (line.startsWith("peak="))
            paint.peakKiB = value.toLongLong();
    }
    return paint;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
            { "runs", "Starts per program (default 20).", "n", "20" },
            { "label", "Row label.", "text", "first paint" },
            { "rows", "Append the result row for bench/run's table to this file.", "file" },
    });
    parser.process(app);
    const int runs = qMax(1, parser.value("runs").toInt());
    const QString dir = QCoreApplication::applicationDirPath();
    const QString updater = dir + QStringLiteral("/paintprobe_updater");
    const QString bare = dir + QStringLiteral("/paintprobe_bare");
    // The version a user's start gives; the bare dialog ignores it.
    const QStringList arguments = { QStringLiteral("1.0.0") };

    out << parser.value("label") << ": " << runs << " starts per program, platform "
        << (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ? QByteArray("default")
                                                           : qgetenv("QT_QPA_PLATFORM"))
        << Qt::endl;
    // One untimed start of each first, so that both meet the libraries in the page cache.
    probe(updater, arguments);
    probe(bare, arguments);

    QVector<double> ours, bares, ourFrames, bareFrames;
    qint64 ourPeak = 0, barePeak = 0;
    bool allPainted = true;
    for (int i = 0; i < runs; ++i) {
        Paint a, b;
        if (i % 2 == 0) {
            a = probe(updater, arguments);
            b = probe(bare, arguments);
        } else {
            b = probe(bare, arguments);
            a = probe(updater, arguments);
        }
        allPainted = allPainted && a.paintMs >= 0 && b.paintMs >= 0;
        ours << a.paintMs;
        bares << b.paintMs;
        ourFrames << a.frameMs;
        bareFrames << b.frameMs;
        ourPeak = qMax(ourPeak, a.peakKiB);
        barePeak = qMax(barePeak, b.peakKiB);
    }
    if (!allPainted) {
        out << "bench_firstpaint: a probe did not paint (is there a display?)" << Qt::endl;
        return 1;
    }
    const double ourMedian = bench::median(ours), bareMedian = bench::median(bares);
    out << QString::asprintf(
            "median first paint: updater %.1f ms (min %.1f, max %.1f), bare QDialog %.1f ms "
            "(min %.1f, max %.1f), ratio %.2f",
            ourMedian, *std::min_element(ours.begin(), ours.end()),
            *std::max_element(ours.begin(), ours.end()), bareMedian,
            *std::min_element(bares.begin(), bares.end()),
            *std::max_element(bares.begin(), bares.end()), ourMedian / bareMedian)
        << Qt::endl;
    out << QString::asprintf("median end of that repaint: updater %.1f ms, bare QDialog %.1f ms",
                             bench::median(ourFrames), bench::median(bareFrames))
        << Qt::endl;
    out << QString::asprintf("peak RSS at first paint: updater %.1f MiB, bare QDialog %.1f MiB",
                             ourPeak / 1024.0, barePeak / 1024.0)
        << Qt::endl;
    bench::appendRow(parser.value("rows"), parser.value("label"), ourMedian / 1000,
                     bareMedian / 1000, QStringLiteral("bare QDialog"), ourPeak, barePeak);
    return 0;
}
