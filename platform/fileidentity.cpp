#include "platform/fileidentity.h"

#include <QFile>
#include <QFileDevice>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

struct FileIdentityReader
{
#ifdef Q_OS_WIN
    static FileIdentity read(HANDLE handle)
    {
        FileIdentity identity;
        BY_HANDLE_FILE_INFORMATION info;
        if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
            return identity;
        identity.valid = true;
        identity.dev = info.dwVolumeSerialNumber;
        identity.ino = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.bytes = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
        // 100 ns units since 1601.
        identity.mtime = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32)
                                | info.ftLastWriteTime.dwLowDateTime)
                * 100;
        return identity;
    }
#else
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
#endif
};

FileIdentity FileIdentity::of(const QFileDevice &file)
{
    const int fd = file.handle();
    if (fd < 0)
        return FileIdentity();
#ifdef Q_OS_WIN
    return FileIdentityReader::read(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
#else
    struct stat info;
    return fstat(fd, &info) == 0 ? FileIdentityReader::read(info) : FileIdentity();
#endif
}

FileIdentity FileIdentity::of(const QString &path)
{
#ifdef Q_OS_WIN
    // No access rights asked: reading the attributes needs none, and every sharing mode is
    // allowed so that an open file can be looked at. BACKUP_SEMANTICS lets directories open too.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FileIdentity();
    const FileIdentity identity = FileIdentityReader::read(handle);
    CloseHandle(handle);
    return identity;
#else
    struct stat info;
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &info) == 0
            ? FileIdentityReader::read(info)
            : FileIdentity();
#endif
}

bool FileIdentity::isSameFile(const FileIdentity &other) const
{
    return valid && other.valid && dev == other.dev && ino == other.ino && bytes == other.bytes;
}

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return isSameFile(other) && mtime == other.mtime;
}
