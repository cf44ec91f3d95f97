#include "benchsupport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace bench {

QByteArray sha256(const QString &path)
{
    // OpenSSL's digest uses the CPU's SHA instructions where there are any, three times as fast
    // as QCryptographicHash here; the checks take most of a run's time.
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), { "dgst", "-sha256", "-r", path });
    if (openssl.waitForFinished(-1) && openssl.exitStatus() == QProcess::NormalExit
        && openssl.exitCode() == 0)
        return openssl.readAllStandardOutput().left(64);

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

QByteArray generatedSha256(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 piece = 1 << 20;
    for (qint64 at = 0; at < size; at += piece)
        hash.addData(HttpTestServer::generated(at, qMin(piece, size - at)));
    return hash.result().toHex();
}

bool writeGenerated(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qint64 piece = 1 << 20;
    for (qint64 at = 0; at < size; at += piece) {
        const QByteArray bytes = HttpTestServer::generated(at, qMin(piece, size - at));
        if (file.write(bytes) != bytes.size())
            return false;
    }
    return file.flush();
}

QByteArray checkAndRemove(const QString &path, bool ok)
{
    const QByteArray sha = ok ? sha256(path) : QByteArray("failed");
    QFile::remove(path);
    writeBackDirtyData();
    return sha;
}

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString cpuSpent(const QMap<QString, double> &before, const QMap<QString, double> &after)
{
    QVector<QPair<double, QString>> spent;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const double used = it.value() - before.value(it.key());
        if (used > 0)
            spent.append({ used, it.key() });
    }
    std::sort(spent.begin(), spent.end(), std::greater<>());
    QStringList parts;
    for (const auto &thread : qAsConst(spent))
        parts << QStringLiteral("%1 %2 s").arg(thread.second).arg(thread.first, 0, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

CurlRun curl(const QUrl &url, const QString &path, const QString &caFile)
{
    QTemporaryFile peakFile;
    peakFile.open();
    QStringList arguments { "-f", "%M", "-o", peakFile.fileName(), "curl", "-sS", "-o", path };
    if (!caFile.isEmpty())
        arguments << "--cacert" << caFile;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/usr/bin/time"), arguments << url.toString());
    process.waitForFinished(-1);
    CurlRun run;
    run.seconds = timer.nsecsElapsed() / 1e9;
    peakFile.seek(0);
    run.peakKiB = peakFile.readAll().trimmed().toLongLong();
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    run.sha = checkAndRemove(path, ok);
    return run;
}

ServingThread::ServingThread(Setup setup)
    : setup(std::move(setup))
{ }

ServingThread::~ServingThread()
{
    quit();
    wait();
}

QUrl ServingThread::serve()
{
    start();
    ready.acquire();
    return root;
}

void ServingThread::run()
{
    HttpTestServer server;
    setup(server);
    root = server.url(QStringLiteral("/"));
    ready.release();
    exec();
}

void appendRow(const QString &rowsFile, const QString &label, double ours, double reference,
               const QString &referenceName, qint64 oursKiB, qint64 referenceKiB)
{
    if (rowsFile.isEmpty())
        return;
    QFile file(rowsFile);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return;
    QTextStream(&file) << label << '\t' << QString::number(ours, 'f', 4) << '\t'
                       << QString::number(reference, 'f', 4) << '\t' << referenceName << '\t'
                       << oursKiB << '\t' << referenceKiB << '\n';
}

} // namespace bench
