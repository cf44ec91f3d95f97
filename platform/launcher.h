#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <QString>
#include <QUrl>

// Starts a program beside the updater without waiting for it.
class Launcher
{
public:
    enum class Origin { Installed, Downloaded };

    // program is an absolute path. A Downloaded program (a full package as saved from the
    // network) may first need permission to run. Returns whether the program was started.
    static bool start(const QString &program, Origin origin);

    // The file URL the Windows shell is given for an absolute path: a local file whatever the
    // path holds (drive letters, spaces, non-ASCII letters, '#', '%').
    static QUrl urlFor(const QString &path);
};

#endif // LAUNCHER_H
