#include "platform/nativedir.h"

bool NativeDir::removeFile(const QString &name) const
{
    // Whatever is not a folder, removeTree unlinks as it is, a link included, without looking
    // inside.
    if (kindOf(name) != Kind::Folder)
        return removeTree(name);
    error = name + QLatin1String(": a folder");
    return false;
}
