#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

#include <memory>

class QCoreApplication;

// The program's output without a window. On Windows the program is a GUI program, which has no
// console of its own: started from one, it writes to its parent's.
class Console
{
public:
    // The application object of a run without a window. On Windows a GUI one all the same: the
    // shell that starts Morvane is reached through the platform plugin.
    static std::unique_ptr<QCoreApplication> application(int &argc, char **argv);
    // Standard output and error go to the parent's console where they go nowhere else.
    static void attach();

    // A line on standard output, or on standard error.
    static void out(const QString &line);
    static void err(const QString &line);
};

#endif // CONSOLE_H
