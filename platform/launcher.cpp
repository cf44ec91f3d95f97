#include "platform/launcher.h"

QUrl Launcher::urlFor(const QString &path)
{
    // A path parsed as a URL turns "C:" into a scheme and "#" into a fragment; only a file URL
    // reaches the shell as the path it is.
    return QUrl::fromLocalFile(path);
}
