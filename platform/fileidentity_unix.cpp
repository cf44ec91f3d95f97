#include "platform/fileidentity.h"

#include <QFile>
#include <QFileDevice>

#include <sys/stat.h>

struct FileIdentityReader
{
    static FileIdentity read(const struct stat &info)
    {
        FileIdentity identity;
        identity.valid = true;
        identity.dev = quint64(info.st_dev);
        identity.ino = quint64(info.st_ino);
        identity.bytes = qint64(info.st_size);
#ifdef Q_OS_DARWIN
        identity.mtime = qint64(info.st_mtimespec.tv_sec) * 1000000000 + info.st_mtimespec.tv_nsec;
#else
        identity.mtime = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#endif
        return identity;
    }
};

FileIdentity FileIdentity::of(const QFileDevice &file)
{
    const int fd = file.handle();
    if (fd < 0)
        return FileIdentity();
    struct stat info;
    return fstat(fd, &info) == 0 ? FileIdentityReader::read(info) : FileIdentity();
}

FileIdentity FileIdentity::of(const QString &path)
{
    struct stat info;
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &info) == 0
            ? FileIdentityReader::read(info)
            : FileIdentity();
}
