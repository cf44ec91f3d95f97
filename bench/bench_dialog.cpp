// The real dialog, driven as a user drives it, against curl on the same package: "check", then
// "update", timed from that click until the question box appears, which is answered No so that
// nothing is installed. The package lands in this program's directory, is checked by SHA-256 and
// removed. Dialog and curl take turns; the medians, their ratio and the peak resident memory of
// both are printed.
//
//     bench_dialog --site-url URL [--size BYTES] [--runs N] [--rows FILE]
//         the manifest and the package from a server at URL, laid out by --write-site
//     bench_dialog [--size BYTES] [--runs N] [--rows FILE]
//         the manifest and a chunked package from a server in this process
//     bench_dialog --write-site DIRECTORY --site-url URL [--size BYTES]
//         writes the manifest and the package for a server at URL that serves DIRECTORY
//     --ca FILE: for an https URL, the CAs (PEM) that the dialog and curl trust, and no others
//
// Diagnostics: --no-theme leaves out the dark stylesheet, --hidden never shows the dialog,
// --no-progress cuts the progress display off the download.

#include "app/theme.h"
#include "benchsupport.h"
#include "dialog/updaterdialog.h"
#include "download/downloader.h"
#include "download/network.h"
#include "road/settings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <functional>

namespace {

const QString packageName = QStringLiteral("bench-package.zip");
const QString packagePath = QStringLiteral("/packages/") + packageName;

QTextStream out(stdout);

// The path part of the compiled-in manifest address, where every server here puts the manifest.
QString manifestPath()
{
    return QUrl(manifestUrl).path();
}

QByteArray manifest(const QUrl &package)
{
    QJsonObject entry;
    entry.insert(QStringLiteral("latest-version"), QStringLiteral("1.1.0"));
    entry.insert(QStringLiteral("download-url"), package.toString());
    entry.insert(QStringLiteral("full-url"), package.toString());
    entry.insert(QStringLiteral("modify-time"),
                 QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    entry.insert(QStringLiteral("changelog"), QStringLiteral("Benchmark package."));
    QJsonObject updates;
    updates.insert(platformKey, entry);
    QJsonObject root;
    root.insert(QStringLiteral("updates"), updates);
    return QJsonDocument(root).toJson();
}

bool writeSite(const QString &directory, const QUrl &site, qint64 size)
{
    const QString manifestFile = directory + manifestPath();
    const QString packageFile = directory + packagePath;
    if (!QDir().mkpath(QFileInfo(manifestFile).absolutePath())
        || !QDir().mkpath(QFileInfo(packageFile).absolutePath()))
        return false;
    QFile file(manifestFile);
    const QByteArray json = manifest(site.resolved(QUrl(packagePath)));
    return file.open(QIODevice::WriteOnly) && file.write(json) == json.size()
            && bench::writeGenerated(packageFile, size);
}

// Polls, since the conditions waited for here announce themselves by no signal of their own.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || timer.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    if (!condition())
        loop.exec();
    return condition();
}

// Watches the whole application: stamps the moment the question box is shown, answers it No,
// and counts the paint events on the way.
class QuestionWatch : public QObject
{
public:
    explicit QuestionWatch(const QElapsedTimer &clock)
        : clock(clock)
    {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        } else if (event->type() == QEvent::Show && shownAt < 0
                   && qobject_cast<QMessageBox *>(watched)) {
            shownAt = clock.nsecsElapsed() / 1e9;
            // Queued: the box's own event loop is running by then.
            QTimer::singleShot(0, this, [] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->button(QMessageBox::No)->click();
            });
        }
        return false;
    }

    const QElapsedTimer &clock;
    double shownAt = -1;
    int paints = 0;
};

struct Options
{
    bool theme = true;
    bool visible = true;
    bool progress = true;
};

struct DialogRun
{
    double seconds = -1;
    QByteArray sha;
    int reports = 0;
    int paints = 0;
    qint64 peakKiB = 0;
    QString cpu;
};

// A dated backup the Downloader made of an earlier copy, or the copy itself, would change what the
// next run does; none may be left over.
void removeLeftovers(const QString &directory)
{
    QDir dir(directory);
    const QStringList names = dir.entryList({ packageName, packageName + QStringLiteral(".part"),
                                              packageName + QStringLiteral("_*") },
                                            QDir::Files);
    for (const QString &name : names)
        dir.remove(name);
}

DialogRun viaDialog(const Options &options)
{
    DialogRun run;
    removeLeftovers(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                    + Downloader::folderName());
    testplatform::resetPeak();

    UpdaterDialog dialog;
    if (options.visible)
        dialog.show();
    auto *update = dialog.findChild<QPushButton *>(QStringLiteral("btn_update"));
    dialog.findChild<QPushButton *>(QStringLiteral("btn_check"))->click();
    if (!waitUntil([update] { return update->isEnabled(); }, 10000)) {
        run.sha = "no update offered";
        return run;
    }

    QElapsedTimer clock;
    QuestionWatch watch(clock);
    QEventLoop loop;
    const QMap<QString, double> cpuBefore = bench::threadCpuSeconds();
    clock.start();
    update->click();
    // The dialog made its Downloader in that click; the download has not begun to report yet.
    auto *downloader = dialog.findChild<Downloader *>();
    QObject::connect(downloader, &Downloader::doProgress, &loop, [&run] { ++run.reports; });
    if (!options.progress)
        QObject::disconnect(downloader, &Downloader::doProgress, &dialog, nullptr);
    // Connected after the dialog's own handler, so this runs once the question has been answered
    // (or at once when the download failed and no question came).
    QObject::connect(downloader, &Downloader::doFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();

    run.cpu = bench::cpuSpent(cpuBefore, bench::threadCpuSeconds());
    run.seconds = watch.shownAt;
    run.paints = watch.paints;
    run.peakKiB = testplatform::peakKiB();
    run.sha = bench::checkAndRemove(downloader->file()->fileName(),
                                    downloader->succeeded() && watch.shownAt >= 0);
    return run;
}

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform says this at every show of a window; it tells nothing here.
void dropPlatformChatter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.contains(QLatin1String("propagateSizeHints")))
        defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char **argv)
{
    // Offscreen unless asked otherwise: the dialog paints as it would, with no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(dropPlatformChatter);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
            { "size", "Package size in bytes (default 1 GiB).", "bytes", "1073741824" },
            { "runs", "Downloads per client (default 3).", "n", "3" },
            { "site-url", "Root address of a server that serves a --write-site layout.", "url" },
            { "write-site", "Write the manifest and the package under this directory.", "dir" },
            { "ca", "Trust only the CAs of this PEM file for https (dialog and curl).", "file" },
            { "rows", "Append the result row for bench/run's table to this file.", "file" },
            { "label", "Row label (default: after the source).", "text" },
            { "no-theme", "Leave the dark stylesheet out." },
            { "hidden", "Do not show the dialog." },
            { "no-progress", "Cut the progress display off the download." },
    });
    parser.process(app);
    const qint64 size = parser.value("size").toLongLong();
    const int runs = qMax(1, parser.value("runs").toInt());
    const QUrl site(parser.value("site-url"));
    if (size <= 0) {
        out << "bench_dialog: bad size" << Qt::endl;
        return 2;
    }
    if (parser.isSet("write-site")) {
        if (!site.isValid() || !writeSite(parser.value("write-site"), site, size)) {
            out << "bench_dialog: could not write the site" << Qt::endl;
            return 2;
        }
        return 0;
    }

    const QString caFile = parser.value("ca");
    if (!caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(caFile);
        if (authorities.isEmpty()) {
            out << "bench_dialog: no certificate in " << caFile << Qt::endl;
            return 2;
        }
        Network::setTrustedCertificates(authorities);
    }

    Options options;
    options.theme = !parser.isSet("no-theme");
    options.visible = !parser.isSet("hidden");
    options.progress = !parser.isSet("no-progress");
    if (options.theme)
        loadStyleSheet();

    // Without a site, this process serves the manifest and a chunked package itself.
    bench::ServingThread serving([size](HttpTestServer &server) {
        HttpTestServer::Response package;
        package.generatedSize = size;
        package.framing = HttpTestServer::Framing::Chunked;
        package.pieceSize = 256 * 1024;
        package.headers = { { "Content-Disposition",
                              "attachment; filename=\"" + packageName.toUtf8() + '"' } };
        server.respond(packagePath, package);
        HttpTestServer::Response json;
        json.body = manifest(server.url(packagePath));
        json.headers = { { "Content-Type", "application/json" } };
        server.respond(manifestPath(), json);
    });
    const QUrl root = site.isEmpty() ? serving.serve() : site;
    const QString label = parser.isSet("label") ? parser.value("label")
            : site.isEmpty() ? QStringLiteral("dialog, chunked, in-process server")
                             : QStringLiteral("dialog, server at ") + site.authority();
    manifestUrl = root.resolved(QUrl(manifestPath())).toString();
    currentVersion = QStringLiteral("1.0.0");
    const QUrl packageUrl = root.resolved(QUrl(packagePath));
    const QString curlCopy
            = QCoreApplication::applicationDirPath() + QStringLiteral("/curl-copy.bin");

    out << label << ": " << size << " bytes from " << packageUrl.toString() << ", " << runs
        << " runs per client, into " << QCoreApplication::applicationDirPath() << Qt::endl;
    const QByteArray expected = bench::generatedSha256(size);

    bool allMatch = true;
    QVector<double> ours, curls;
    qint64 ourPeak = 0, curlPeak = 0;
    for (int i = 0; i < runs; ++i) {
        // Alternate who goes first, so that neither always meets a warmer cache.
        DialogRun a;
        bench::CurlRun b;
        if (i % 2 == 0) {
            a = viaDialog(options);
            b = bench::curl(packageUrl, curlCopy, caFile);
        } else {
            b = bench::curl(packageUrl, curlCopy, caFile);
            a = viaDialog(options);
        }
        out << QString::asprintf("  run %d: dialog %.3f s %s (%d progress reports, %d paint "
                                 "events, peak %.1f MiB), curl %.3f s %s",
                                 i + 1, a.seconds,
                                 a.sha == expected ? "sha256 ok" : "SHA256 MISMATCH", a.reports,
                                 a.paints, a.peakKiB / 1024.0, b.seconds,
                                 b.sha == expected ? "sha256 ok" : "SHA256 MISMATCH")
            << Qt::endl;
        out << "    CPU: " << a.cpu << Qt::endl;
        allMatch = allMatch && a.sha == expected && b.sha == expected;
        ours << a.seconds;
        curls << b.seconds;
        ourPeak = qMax(ourPeak, a.peakKiB);
        curlPeak = qMax(curlPeak, b.peakKiB);
    }
    const double ourMedian = bench::median(ours), curlMedian = bench::median(curls);
    out << QString::asprintf("median dialog %.3f s, curl %.3f s, ratio %.2f; peak RSS dialog "
                             "process %.1f MiB, curl %.1f MiB",
                             ourMedian, curlMedian, ourMedian / curlMedian, ourPeak / 1024.0,
                             curlPeak / 1024.0)
        << Qt::endl;
    bench::appendRow(parser.value("rows"), label, ourMedian, curlMedian, QStringLiteral("curl"),
                     ourPeak, curlPeak);
    return allMatch ? 0 : 1;
}
