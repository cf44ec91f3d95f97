#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

// What the benchmark programs share: checksums, peak memory, medians, curl as the reference
// client, a server in its own thread, and the result rows that bench/run gathers into its table.

#include "benchplatform.h"
#include "httptestserver.h"
#include "testplatform.h"

#include <QByteArray>
#include <QMap>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QUrl>
#include <QVector>

#include <functional>

namespace bench {

// SHA-256 of a file, hex; "unreadable" when it cannot be opened.
QByteArray sha256(const QString &path);
// SHA-256 of HttpTestServer::generated(0, size), hex.
QByteArray generatedSha256(qint64 size);
// Writes HttpTestServer::generated(0, size) to path.
bool writeGenerated(const QString &path, qint64 size);
// Hashes the copy (when ok) and removes it, then writes back what the removal left dirty, so that
// the next run starts with a quiet disk. "failed" when not ok.
QByteArray checkAndRemove(const QString &path, bool ok);

double median(QVector<double> values);

// What was used between two readings, as "main system 0.42 s, main user 0.10 s", most first.
QString cpuSpent(const QMap<QString, double> &before, const QMap<QString, double> &after);

struct CurlRun
{
    double seconds = 0;
    qint64 peakKiB = 0;
    QByteArray sha;
};
// curl fetches url to path under /usr/bin/time, which reports curl's own peak (a child of this
// process would otherwise count the memory of the fork it started from); the copy is then checked
// and removed. For an https url, caFile (when given) is the only CA curl trusts.
CurlRun curl(const QUrl &url, const QString &path, const QString &caFile = QString());

// An HttpTestServer living in its own thread, so that serving shares no event loop (and, on two
// cores, as little as possible of a core) with the client under test. setup runs in that thread
// with the server before the first request.
class ServingThread : public QThread
{
public:
    using Setup = std::function<void(HttpTestServer &)>;
    explicit ServingThread(Setup setup);
    ~ServingThread() override;
    // Starts serving; the address of the server's root.
    QUrl serve();

protected:
    void run() override;

private:
    const Setup setup;
    QUrl root;
    QSemaphore ready;
};

// One line of bench/run's table, appended to the file given with --rows (nothing when empty):
// label, median seconds of ours and of the reference, the reference's name, peak KiB of both.
void appendRow(const QString &rowsFile, const QString &label, double ours, double reference,
               const QString &referenceName, qint64 oursKiB, qint64 referenceKiB);

} // namespace bench

#endif // BENCHSUPPORT_H
