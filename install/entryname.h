#ifndef ENTRYNAME_H
#define ENTRYNAME_H

#include <QString>

struct archive_entry;

// The path of an archive entry as libarchive read it; a null string where libarchive cannot
// give it in Unicode. One source per system (entryname_unix.cpp, entryname_win.cpp).
QString entryName(archive_entry *entry);

#endif // ENTRYNAME_H
