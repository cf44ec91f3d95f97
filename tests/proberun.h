#ifndef PROBERUN_H
#define PROBERUN_H

#include <QProcess>
#include <QSignalSpy>
#include <QStringList>

// A child program run to its end while this process's event loop keeps going (so that servers
// living here go on answering), with its "key=value" lines of standard output.
struct ProbeRun
{
    int exitCode = -1;
    QStringList lines;

    static ProbeRun run(const QString &program, const QStringList &arguments,
                        const QString &workingDirectory = QString())
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        QProcess probe;
        probe.setWorkingDirectory(workingDirectory);
        QSignalSpy finished(&probe, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        probe.start(program, arguments);
        ProbeRun result;
        if (!finished.wait(90000) || probe.exitStatus() != QProcess::NormalExit) {
            probe.kill();
            probe.waitForFinished();
            return result;
        }
        result.exitCode = probe.exitCode();
        result.lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
        result.lines.removeAll(QString());
        return result;
    }

    // The value of the first line for key, or "<missing>".
    QString value(const QString &key) const
    {
        const QStringList all = values(key);
        return all.isEmpty() ? QStringLiteral("<missing>") : all.first();
    }

    QStringList values(const QString &key) const
    {
        QStringList all;
        for (const QString &line : lines) {
            if (line.startsWith(key + QLatin1Char('=')))
                all << line.mid(key.size() + 1);
        }
        return all;
    }
};

#endif // PROBERUN_H
