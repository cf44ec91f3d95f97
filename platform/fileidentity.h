#ifndef FILEIDENTITY_H
#define FILEIDENTITY_H

#include <QString>
#include <QtGlobal>

class QFileDevice;

// Which file a name or a handle leads to, and in what state: the volume (device), the file's
// index on it (inode), its size and its last modification time. Two identities are equal only
// when all four are: a file swapped in under the same name, or changed in place, compares
// unequal. A default identity is invalid and equals no valid one.
class FileIdentity
{
public:
    FileIdentity() = default;

    // Of the file open in file (through its native handle), without going by its name.
    static FileIdentity of(const QFileDevice &file);
    // Of the file that path names now, following links.
    static FileIdentity of(const QString &path);

    bool isValid() const { return valid; }
    qint64 size() const { return bytes; }

    // The same file with the same size, whatever its times say.
    bool isSameFile(const FileIdentity &other) const;
    bool operator==(const FileIdentity &other) const;
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }

private:
    bool valid = false;
    quint64 dev = 0;
    quint64 ino = 0;
    qint64 bytes = 0;
    // Nanoseconds since the system's own epoch (1970 on POSIX, 1601 on Windows).
    qint64 mtime = 0;

    // Reads the system's own file information: one per system (fileidentity_unix.cpp,
    // fileidentity_win.cpp).
    friend struct FileIdentityReader;
};

#endif // FILEIDENTITY_H
