#ifndef ELEVATION_H
#define ELEVATION_H

#include <QString>
#include <QStringList>

// Whether this process may change a folder, and a way to start the program again with an
// administrator's rights where the system offers one (Windows' UAC prompt): an application
// installed under "Program Files" is writable only so.
class Elevation
{
public:
    enum class Start {
        Started, // the elevated copy runs
        Refused, // the user said no
        Failed // not possible here, or the system failed: see the error
    };

    // Whether this process may create files in folder, tried for real where access lists decide
    // (Windows: the probe file is gone again when this returns, also after a crash).
    static bool canWriteTo(const QString &folder);
    // Whether this process already has an administrator's rights.
    static bool isElevated();
    // Starts program elevated, with arguments.
    static Start startElevated(const QString &program, const QStringList &arguments,
                               QString *error);
};

#endif // ELEVATION_H
