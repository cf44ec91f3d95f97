#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QCommandLineParser;

// What the program was asked to do. "updater 1.0.0" and "updater" alone open the window as they
// always did: a first argument that does not start with "--" is the installed version, and
// nothing after it is read. Otherwise the options are those of --help.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    enum class Mode {
        Window, // the dialog
        Help,
        Version, // the updater's own version, its server and its key
        Check, // no window: what an update would fetch
        Update, // no window: the whole update, consent given by the option
        DryRun, // no window: fetch, verify and plan against another folder, change nothing
    };

    // Whether argv asks for no window, so that no GUI application object is made: read before
    // there is one.
    static bool isHeadless(int argc, char **argv);

    // arguments: as QCoreApplication::arguments() gives them, the program first. False, with
    // errorString(), for a command line that cannot be followed.
    bool parse(const QStringList &arguments);
    QString errorString() const { return why; }
    QString helpText() const { return help; }

    Mode mode = Mode::Window;
    // The installed version; empty where none was given (the compiled-in one stays).
    QString version;
    bool noStart = false;
    QString appDir; // --dry-run's folder
    QString logFile; // empty: no log file

private:
    bool take(const QCommandLineParser &parser);

    QString why;
    QString help;
};

#endif // COMMANDLINE_H
