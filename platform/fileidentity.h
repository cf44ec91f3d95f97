#ifndef FILEIDENTITY_H
#define FILEIDENTITY_H

#include <QString>
#include <QtGlobal>

class QFileDevice;

// Which file a name or a handle leads to, and in what state: the volume (device), the file's
// index on it (inode), its size and its last write time, none of which a rename changes. Two
// identities are equal only when all four are: a file swapped in under the same name, changed in
// place, or given the index of a removed one (ext4 hands freed inodes out again at once) compares
// unequal. An invalid identity (all zero, where there is no file) equals none.
class FileIdentity
{
public:
    FileIdentity() = default;
    // As the system reported it, or as a journal kept it.
    FileIdentity(quint64 volume, quint64 index, qint64 size, qint64 modified);

    // Of the file open in file (through its native handle), without going by its name.
    static FileIdentity of(const QFileDevice &file);
    // Of the file that path names now, following links.
    static FileIdentity of(const QString &path);

    bool isValid() const { return fileVolume != 0 || fileIndex != 0; }
    quint64 volume() const { return fileVolume; }
    quint64 index() const { return fileIndex; }
    qint64 size() const { return bytes; }
    // In the system's own units and epoch: nanoseconds since 1970 on POSIX, 100 ns since 1601
    // on Windows.
    qint64 modified() const { return mtime; }

    // The same file with the same size, whatever its times say.
    bool isSameFile(const FileIdentity &other) const;
    bool operator==(const FileIdentity &other) const;
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }

private:
    quint64 fileVolume = 0;
    quint64 fileIndex = 0;
    qint64 bytes = 0;
    qint64 mtime = 0;
};

#endif // FILEIDENTITY_H
