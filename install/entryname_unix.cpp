#include "install/entryname.h"

#include <archive_entry.h>

QString entryName(archive_entry *entry)
{
    const char *utf8 = archive_entry_pathname_utf8(entry);
    return utf8 ? QString::fromUtf8(utf8) : QString();
}
