#include "platform/elevation.h"

#include <QFile>

#include <unistd.h>

bool Elevation::canWriteTo(const QString &folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool Elevation::isElevated()
{
    return ::geteuid() == 0;
}

// Desktops here have no one way to ask (pkexec, sudo and kdesu all differ): the user starts the
// updater with the rights it needs.
Elevation::Start Elevation::startElevated(const QString &, const QStringList &, QString *error)
{
    *error = QStringLiteral("this system offers no way to ask for administrator rights");
    return Start::Failed;
}
