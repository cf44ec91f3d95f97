#include "testplatform.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <unistd.h>

#include <csignal>

namespace {

// A "VmRSS:" or "VmHWM:" line of /proc/self/status, in KiB.
qint64 statusField(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

namespace testplatform {

qint64 residentKiB()
{
    return statusField("VmRSS");
}

qint64 peakKiB()
{
    return statusField("VmHWM");
}

void resetPeak()
{
    // 5 resets the peak resident size to the current one.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void endAbruptly()
{
    std::raise(SIGKILL);
    std::abort(); // not reached: SIGKILL cannot be caught
}

bool openSharingRemoval(QFile *file, const QString &path)
{
    file->setFileName(path);
    return file->open(QIODevice::ReadOnly);
}

bool makeSymbolicLink(const QString &target, const QString &link)
{
    return QFile::link(target, link);
}

bool makeHardLink(const QString &target, const QString &link)
{
    return ::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

int keptMode(int mode)
{
    return mode;
}

QString programFile(const QString &name)
{
    return name;
}

SystemProxy::SystemProxy(const QUrl &proxy)
    : previous(qgetenv("http_proxy"))
{
    qputenv("http_proxy", proxy.toEncoded());
    qunsetenv("no_proxy");
}

SystemProxy::~SystemProxy()
{
    if (previous.isEmpty())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", previous);
}

TestMount::TestMount(const QString &folder, qint64 bytes)
{
    if (geteuid() != 0) {
        reason = QStringLiteral("mounting needs root");
        return;
    }
    const QStringList arguments = bytes > 0
            ? QStringList { "-t", "tmpfs", "-o", "size=" + QString::number(bytes), "tmpfs", folder }
            : QStringList { "--bind", "-o", "ro", folder, folder };
    if (!QDir().mkpath(folder) || QProcess::execute(QStringLiteral("mount"), arguments) != 0) {
        reason = QStringLiteral("this machine does not let the test mount");
        return;
    }
    mountPoint = folder;
}

TestMount::~TestMount()
{
    if (isMounted())
        QProcess::execute(QStringLiteral("umount"), { mountPoint });
}

} // namespace testplatform
