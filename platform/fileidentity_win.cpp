#include "platform/fileidentity.h"

#include <QFileDevice>

#include <io.h>
#include <windows.h>

struct FileIdentityReader
{
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
};

FileIdentity FileIdentity::of(const QFileDevice &file)
{
    const int fd = file.handle();
    if (fd < 0)
        return FileIdentity();
    return FileIdentityReader::read(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

FileIdentity FileIdentity::of(const QString &path)
{
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
}
