#include "platform/heldfile.h"

#include <QFile>

// Unix has no mandatory share modes: a plain open, checked by the reader.
bool HeldFile::open(QFile *file, const QString &path)
{
    file->setFileName(path);
    return file->open(QIODevice::ReadOnly);
}
