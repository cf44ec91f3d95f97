#ifndef CONSOLEROAD_H
#define CONSOLEROAD_H

#include "app/commandline.h"
#include "road/updaterun.h"

#include <QObject>
#include <QString>

// --check, --update and --dry-run: an UpdateRun without a window, its lines and progress on
// standard error, its result on standard output, and the exit status by done().
class ConsoleRoad : public QObject
{
    Q_OBJECT

public:
    // Exit statuses of --check; --update ends in upToDate or failed.
    static constexpr int upToDate = 0;
    static constexpr int failed = 1;
    static constexpr int available = 10;

    // line: the mode (Check, Update or DryRun) and its options.
    explicit ConsoleRoad(const CommandLine &line, QObject *parent = nullptr);

    UpdateRun *run() const { return road; }
    // Checks against the installed version; for an update, what earlier installs left is
    // settled first, as at the window's start.
    void start(const QString &version);

signals:
    void done(int status);

private:
    void writeLine(const UpdateRun::Line &line);
    void checkFinished(bool read);
    void answerQuestion();
    void plan();
    void tellCheck();
    void showProgress(qint64 received, qint64 total);
    void runFinished(UpdateRun::Outcome outcome);

    CommandLine::Mode mode;
    // --dry-run's folder, and the status its plan ended in.
    QString planDir;
    int planned = 1;
    UpdateRun *road;
    QString version;
    // A check's summary, told only when the check failed: it then says why.
    QString summary;
    int lastPercent = -1;
};

#endif // CONSOLEROAD_H
