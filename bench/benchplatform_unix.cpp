#include "benchplatform.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace bench {

QMap<QString, double> threadCpuSeconds()
{
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    QMap<QString, double> seconds;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "tid (name) state ...": the name may hold spaces, so split around the parentheses.
        const int open = line.indexOf('('), close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        // utime and stime are fields 14 and 15, counted from 1 with tid and name as 1 and 2.
        if (open < 0 || close < open || fields.size() < 13)
            continue;
        const QString name = QString::fromUtf8(line.mid(open + 1, close - open - 1));
        seconds[name + QStringLiteral(" user")] += fields.at(11).toLongLong() / ticks;
        seconds[name + QStringLiteral(" system")] += fields.at(12).toLongLong() / ticks;
    }
    return seconds;
}

void writeBackDirtyData()
{
    sync();
}

} // namespace bench
