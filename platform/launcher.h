#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <QString>

// Starts a program beside the updater without waiting for it.
class Launcher
{
public:
    enum class Origin { Installed, Downloaded };

    // program is an absolute path. A Downloaded program (a full package as saved from the
    // network) may first need permission to run. Returns whether the program was started.
    static bool start(const QString &program, Origin origin);
};

#endif // LAUNCHER_H
