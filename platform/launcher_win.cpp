#include "platform/launcher.h"

#include <QDesktopServices>
#include <QFileInfo>

bool Launcher::start(const QString &program, Origin origin)
{
    // Windows has no execute bit to give a downloaded program.
    Q_UNUSED(origin)
    const QFileInfo info(program);
    if (!info.exists())
        return false;
    // The shell opens the program by its type, as Explorer would.
    return QDesktopServices::openUrl(urlFor(info.absoluteFilePath()));
}
