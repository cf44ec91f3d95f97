#include "platform/fileidentity.h"

#include "platform/nativecall_unix.h"

#include <QFile>
#include <QFileDevice>

FileIdentity FileIdentity::of(const QFileDevice &file)
{
    const int fd = file.handle();
    struct stat info;
    return fd >= 0 && fstat(fd, &info) == 0 ? identityOf(info) : FileIdentity();
}

FileIdentity FileIdentity::of(const QString &path)
{
    struct stat info;
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &info) == 0
            ? identityOf(info)
            : FileIdentity();
}
