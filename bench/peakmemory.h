#ifndef PEAKMEMORY_H
#define PEAKMEMORY_H

// Header-only, so that the first-paint probes need nothing beyond Qt Core to report it.

#include <QByteArray>
#include <QFile>

namespace bench {

// Peak resident memory of this process in KiB (VmHWM), or -1 where /proc cannot tell.
inline qint64 peakKiB()
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

} // namespace bench

#endif // PEAKMEMORY_H
