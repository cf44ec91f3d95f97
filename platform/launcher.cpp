#include "platform/launcher.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#ifdef Q_OS_WIN
#include <QDesktopServices>
#endif

bool Launcher::start(const QString &program, Origin origin)
{
    const QFileInfo info(program);
    if (!info.exists())
        return false;
#ifdef Q_OS_WIN
    Q_UNUSED(origin)
    // The shell opens the program by its type, as Explorer would.
    return QDesktopServices::openUrl(QUrl(info.absoluteFilePath(), QUrl::TolerantMode));
#else
    // A package saved from the network has no execute bit yet.
    if (origin == Origin::Downloaded)
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    return QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath());
#endif
}
