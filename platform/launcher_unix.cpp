#include "platform/launcher.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

bool Launcher::start(const QString &program, Origin origin)
{
    const QFileInfo info(program);
    if (!info.exists())
        return false;
    // A package saved from the network has no execute bit yet.
    if (origin == Origin::Downloaded)
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    return QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath());
}
