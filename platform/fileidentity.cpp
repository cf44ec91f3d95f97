#include "platform/fileidentity.h"

bool FileIdentity::isSameFile(const FileIdentity &other) const
{
    return valid && other.valid && dev == other.dev && ino == other.ino && bytes == other.bytes;
}

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return isSameFile(other) && mtime == other.mtime;
}
