// Time from process start to the first paint of the dialog: the real start-up of the updater
// (paintprobe_updater) against a program that shows a bare QDialog (paintprobe_bare), in turns.
// This process stamps CLOCK_MONOTONIC just before it starts a probe; the probe stamps the same
// clock at its dialog's first paint event. The difference covers fork and exec, loading the
// libraries, the application object, the platform plugin, building and showing the dialog.
// The stages on the way are shown too, and the updater without its theme (paintprobe_notheme),
// to tell what the theme costs.
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

// The stages a probe reports, in order, as milliseconds after this process started it:
// application object made, dialog being built, shown, first paint event, end of that repaint.
const char *const stages[] = { "app", "built", "shown", "paint", "frame" };
constexpr int stageCount = int(sizeof stages / sizeof *stages);
constexpr int paintStage = 3;

struct Start
{
    double ms[stageCount] = { -1, -1, -1, -1, -1 };
    qint64 peakKiB = 0;
};

Start probe(const QString &program, const QStringList &arguments)
{
    QProcess process;
    const qint64 started = monotonicNs();
    process.start(program, arguments);
    Start start;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return start;
    }
    // The offscreen platform says this at every show of a window; anything else is worth seeing.
    for (const QByteArray &line : process.readAllStandardError().split('\n')) {
        if (!line.isEmpty() && !line.contains("propagateSizeHints"))
            err << line << Qt::endl;
    }
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QByteArray key = line.left(line.indexOf('='));
        const qint64 value = line.mid(key.size() + 1).toLongLong();
        for (int i = 0; i < stageCount; ++i) {
            if (key == stages[i])
                start.ms[i] = (value - started) / 1e6;
        }
        if (key == "peak")
            start.peakKiB = value;
    }
    return start;
}

struct Program
{
    Program(const QString &name, const QString &path)
        : name(name)
        , path(path)
    { }

    const QString name;
    const QString path;
    QVector<double> ms[stageCount];
    qint64 peakKiB = 0;

    bool run(const QStringList &arguments)
    {
        const Start start = probe(path, arguments);
        for (int i = 0; i < stageCount; ++i)
            ms[i] << start.ms[i];
        peakKiB = qMax(peakKiB, start.peakKiB);
        return start.ms[paintStage] >= 0;
    }
    double median(int stage) const { return bench::median(ms[stage]); }
    double min(int stage) const { return *std::min_element(ms[stage].begin(), ms[stage].end()); }
    double max(int stage) const { return *std::max_element(ms[stage].begin(), ms[stage].end()); }
};

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
    Program updater { QStringLiteral("updater"), dir + QStringLiteral("/paintprobe_updater") };
    Program bare { QStringLiteral("bare QDialog"), dir + QStringLiteral("/paintprobe_bare") };
    Program plain { QStringLiteral("updater, no theme"),
                    dir + QStringLiteral("/paintprobe_notheme") };
    Program *const programs[] = { &updater, &bare, &plain };
    // The version a user's start gives; the bare dialog ignores it.
    const QStringList arguments = { QStringLiteral("1.0.0") };

    out << parser.value("label") << ": " << runs << " starts per program, platform "
        << (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ? QByteArray("default")
                                                           : qgetenv("QT_QPA_PLATFORM"))
        << Qt::endl;
    // One untimed start of each first, so that all meet the libraries in the page cache.
    for (Program *program : programs)
        probe(program->path, arguments);

    bool allPainted = true;
    for (int i = 0; i < runs; ++i) {
        // Turn the order round each time, so that none always follows the same one.
        for (int j = 0; j < 3; ++j)
            allPainted = programs[(i + j) % 3]->run(arguments) && allPainted;
    }
    if (!allPainted) {
        out << "bench_firstpaint: a probe did not paint (is there a display?)" << Qt::endl;
        return 1;
    }

    out << "median ms after the start      app object  dialog built  shown  first paint  "
           "repaint done  (first paint min-max)  peak RSS"
        << Qt::endl;
    for (const Program *program : programs) {
        out << QString::asprintf("  %-28s %10.1f %13.1f %6.1f %12.1f %13.1f  (%.1f-%.1f)  %.1f MiB",
                                 qPrintable(program->name), program->median(0), program->median(1),
                                 program->median(2), program->median(3), program->median(4),
                                 program->min(paintStage), program->max(paintStage),
                                 program->peakKiB / 1024.0)
            << Qt::endl;
    }
    const double ours = updater.median(paintStage), reference = bare.median(paintStage);
    out << QString::asprintf("first paint: updater %.1f ms, bare QDialog %.1f ms, ratio %.2f", ours,
                             reference, ours / reference)
        << Qt::endl;
    bench::appendRow(parser.value("rows"), parser.value("label"), ours / 1000, reference / 1000,
                     QStringLiteral("bare QDialog"), updater.peakKiB, bare.peakKiB);
    return 0;
}
