#ifndef RUNLOG_H
#define RUNLOG_H

#include "road/updaterun.h"

#include <QFile>
#include <QObject>
#include <QString>

// The lines of an update's log appended to a file, each with its time (UTC), for --log.
class RunLog : public QObject
{
    Q_OBJECT

public:
    explicit RunLog(QObject *parent = nullptr);

    // Appends to path, which is made when missing; false with errorString() otherwise.
    bool open(const QString &path);
    QString errorString() const { return file.errorString(); }
    // Every line run tells from now on is written.
    void follow(UpdateRun *run);

private:
    void write(const UpdateRun::Line &line);

    QFile file;
};

#endif // RUNLOG_H
