#include "platform/fileidentity.h"

FileIdentity::FileIdentity(quint64 volume, quint64 index, qint64 size, qint64 modified)
    : fileVolume(volume)
    , fileIndex(index)
    , bytes(size)
    , mtime(modified)
{ }

bool FileIdentity::isSameFile(const FileIdentity &other) const
{
    return isValid() && other.isValid() && fileVolume == other.fileVolume
            && fileIndex == other.fileIndex && bytes == other.bytes;
}

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return isSameFile(other) && mtime == other.mtime;
}
