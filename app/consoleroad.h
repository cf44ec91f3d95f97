#ifndef CONSOLEROAD_H
#define CONSOLEROAD_H

#include "road/updaterun.h"

#include <QObject>
#include <QString>

// --check and --update: an UpdateRun without a window, its lines and progress on standard
// error, its result on standard output, and the exit status by done().
class ConsoleRoad : public QObject
{
    Q_OBJECT

public:
    // Exit statuses of --check; --update ends in upToDate or failed.
    static constexpr int upToDate = 0;
    static constexpr int failed = 1;
    static constexpr int available = 10;

    // update: the whole update with consent given, or only the check. startInstalled: whether
    // Morvane is started once the update is installed.
    ConsoleRoad(bool update, bool startInstalled, QObject *parent = nullptr);

    UpdateRun *run() const { return road; }
    // Checks against the installed version; for an update, what earlier installs left is
    // settled first, as at the window's start.
    void start(const QString &version);

signals:
    void done(int status);

private:
    void takeLine(const UpdateRun::Line &line);
    void takeCheck(bool read);
    void tellCheck();
    void showProgress(qint64 received, qint64 total);
    void takeEnd(UpdateRun::Outcome outcome);

    bool update;
    UpdateRun *road;
    QString version;
    // A check's summary, told only when the check failed: it then says why.
    QString summary;
    int lastPercent = -1;
};

#endif // CONSOLEROAD_H
