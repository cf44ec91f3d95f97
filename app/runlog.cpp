#include "app/runlog.h"

#include <QDateTime>

RunLog::RunLog(QObject *parent)
    : QObject(parent)
{ }

bool RunLog::open(const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void RunLog::follow(UpdateRun *run)
{
    connect(run, &UpdateRun::line, this, &RunLog::write);
}

// A text of several lines (a check's summary) gives each its time, so that every line of the
// file starts with one.
void RunLog::write(const UpdateRun::Line &line)
{
    const QByteArray time = QDateTime::currentDateTimeUtc()
                                    .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ "))
                                    .toUtf8();
    for (const QString &text : line.text.split(QLatin1Char('\n')))
        file.write(time + text.toUtf8() + '\n');
    file.flush();
}
