#include "platform/fileidentity.h"

#include "platform/nativehandle_win.h"

#include <QFileDevice>

#include <io.h>

FileIdentity FileIdentity::of(const QFileDevice &file)
{
    const int fd = file.handle();
    if (fd < 0)
        return FileIdentity();
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle == INVALID_HANDLE_VALUE ? FileIdentity()
                                          : NtFile::idOfHandle(handle, QString(), nullptr);
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
    const FileIdentity identity = NtFile::idOfHandle(handle, QString(), nullptr);
    CloseHandle(handle);
    return identity;
}
