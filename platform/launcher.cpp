#include "platform/launcher.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
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
    return QDesktopServices::openUrl(urlFor(info.absoluteFilePath()));
#else
    // A package saved from the network has no execute bit yet.
    if (origin == Origin::Downloaded)
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    return QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath());
#endif
}

QUrl Launcher::urlFor(const QString &path)
{
    // A path parsed as a URL turns "C:" into a scheme and "#" into a fragment; only a file URL
    // reaches the shell as the path it is.
    return QUrl::fromLocalFile(path);
}
