#include "install/entryname.h"

#include <archive_entry.h>

// libarchive on Windows keeps a name read as UTF-8 in UTF-16; its UTF-8 form is made through the
// ANSI code page and is missing for any name with a character outside it.
QString entryName(archive_entry *entry)
{
    const wchar_t *name = archive_entry_pathname_w(entry);
    return name ? QString::fromWCharArray(name) : QString();
}
