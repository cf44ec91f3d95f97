#ifndef HELDFILE_H
#define HELDFILE_H

#include <QString>

class QFile;

// A file opened for reading and held against change: where the system can refuse it (Windows'
// share modes), nobody may write to, rename or delete the file while it is open here. Elsewhere
// the open is a plain one, and whoever reads it again checks what it reads.
class HeldFile
{
public:
    // Opens path read-only into file; false (file closed) when it cannot be opened.
    static bool open(QFile *file, const QString &path);
};

#endif // HELDFILE_H
