#include "platform/nativedir.h"
#include "platform/nativehandle_win.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <io.h>

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

using namespace NtFile;

NativeDir::~NativeDir()
{
    if (isValid())
        CloseHandle(toHandle(handle));
}

NativeDir::NativeDir(NativeDir &&other) noexcept
    : handle(std::exchange(other.handle, -1))
    , error(std::move(other.error))
{ }

NativeDir &NativeDir::operator=(NativeDir &&other) noexcept
{
    if (this != &other) {
        if (isValid())
            CloseHandle(toHandle(handle));
        handle = std::exchange(other.handle, -1);
        error = std::move(other.error);
    }
    return *this;
}

NativeDir NativeDir::open(const QString &path)
{
    NativeDir dir;
    const QString native = QDir::toNativeSeparators(path);
    NativeHandle folder;
    *folder.receive() = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
                                    folderAccess | SYNCHRONIZE, shareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder.get() == INVALID_HANDLE_VALUE) {
        dir.error = qt_error_string(int(GetLastError()));
        return dir;
    }
    ULONG attributes = 0;
    NTSTATUS status = attributesOf(folder.get(), &attributes);
    if (NT_SUCCESS(status) && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        status = STATUS_NOT_A_DIRECTORY;
    if (succeeded(status, QString(), &dir.error))
        dir.handle = folder.release();
    return dir;
}

bool NativeDir::isValid() const
{
    return handle != -1;
}

NativeDir NativeDir::openFolder(const QString &name) const
{
    NativeDir child;
    NativeHandle folder;
    ULONG attributes = 0;
    const NTSTATUS status = openPlain(toHandle(handle), name, folderAccess, FILE_DIRECTORY_FILE,
                                      &folder, &attributes);
    if (succeeded(status, name, &child.error))
        child.handle = folder.release();
    else
        error = child.error;
    return child;
}

NativeDir NativeDir::openPath(const QString &relative) const
{
    NativeDir folder;
    NativeHandle again;
    if (!succeeded(reopenFolder(toHandle(handle), folderAccess, &again), QString(),
                   &folder.error)) {
        error = folder.error;
        return folder;
    }
    folder.handle = again.release();
    for (const QString &step : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        folder = folder.openFolder(step);
        if (!folder.isValid()) {
            error = folder.error;
            break;
        }
    }
    return folder;
}

QStringList NativeDir::entryNames() const
{
    NativeHandle listing;
    QStringList names;
    NTSTATUS status = reopenFolder(toHandle(handle), FILE_LIST_DIRECTORY, &listing);
    if (NT_SUCCESS(status))
        status = listNames(listing.get(), &names);
    if (!succeeded(status, QString(), &error))
        names.clear();
    return names;
}

NativeDir::Kind NativeDir::kindOf(const QString &name) const
{
    NativeHandle entry;
    ULONG attributes = 0;
    const NTSTATUS status = openExisting(toHandle(handle), name, 0, 0, &entry, &attributes);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND)
        return Kind::Missing;
    // Something is there that cannot be looked at; for one, a name whose deletion waits for
    // another program's handle to close.
    if (!succeeded(status, name, &error))
        return Kind::Other;
    if (isLink(attributes))
        return Kind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Folder : Kind::File;
}

FileIdentity NativeDir::idOf(const QString &name) const
{
    NativeHandle entry;
    ULONG attributes = 0;
    if (!succeeded(openExisting(toHandle(handle), name, 0, 0, &entry, &attributes), name, &error))
        return FileIdentity();
    return idOfHandle(entry.get(), name, &error);
}

int NativeDir::modeOf(const QString &name) const
{
    if (!isPlainName(name)) {
        error = describe(name, textOf(STATUS_OBJECT_NAME_INVALID));
        return -1;
    }
    NativeHandle entry;
    ULONG attributes = 0;
    NTSTATUS status
            = openRelative(toHandle(handle), name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, 0, &entry);
    if (NT_SUCCESS(status))
        status = attributesOf(entry.get(), &attributes);
    if (!succeeded(status, name, &error))
        return -1;
    // A folder's read-only attribute does not stop writing into it; Explorer uses it to mark
    // customised folders.
    const bool readOnly
            = (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return readOnly ? 0444 : 0666;
}

// Only the owner's write bit has a place on Windows, and only on files (see modeOf).
bool NativeDir::setMode(const QString &name, int mode) const
{
    NativeHandle entry;
    ULONG attributes = 0;
    const NTSTATUS status = openPlain(toHandle(handle), name, FILE_WRITE_ATTRIBUTES,
                                      FILE_NON_DIRECTORY_FILE, &entry, &attributes);
    if (!succeeded(status, name, &error))
        return false;
    const ULONG wanted = (mode & 0200) ? attributes & ~FILE_ATTRIBUTE_READONLY
                                       : attributes | FILE_ATTRIBUTE_READONLY;
    return wanted == attributes || succeeded(setAttributes(entry.get(), wanted), name, &error);
}

bool NativeDir::makeFolder(const QString &name) const
{
    NativeHandle folder;
    const NTSTATUS status = isPlainName(name)
            ? openRelative(toHandle(handle), name, FILE_READ_ATTRIBUTES, FILE_CREATE,
                           FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, &folder)
            : STATUS_OBJECT_NAME_INVALID;
    return succeeded(status, name, &error);
}

bool NativeDir::removeFolder(const QString &name) const
{
    NativeHandle folder;
    ULONG attributes = 0;
    NTSTATUS status = openPlain(toHandle(handle), name, removalAccess, FILE_DIRECTORY_FILE, &folder,
                                &attributes);
    if (NT_SUCCESS(status))
        status = markDeleted(folder.get(), attributes);
    return succeeded(status, name, &error);
}

bool NativeDir::removeTree(const QString &name) const
{
    NativeHandle entry;
    ULONG attributes = 0;
    NTSTATUS status = openExisting(toHandle(handle), name, removalAccess, 0, &entry, &attributes);
    if (NT_SUCCESS(status))
        status = removeOpened(entry.get(), attributes);
    return succeeded(status, name, &error);
}

// Windows keeps only the owner's write bit, as the read-only attribute. It is set on creation
// and does not stop this handle writing; it does stop other writes and classic deletion, not
// renaming, and removals here get past it, so an update can still move or replace the file.
bool NativeDir::createFile(const QString &name, int mode, NativeFile *file) const
{
    file->close();
    NativeHandle created;
    const ULONG attributes = (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    const NTSTATUS status = isPlainName(name)
            ? openRelative(toHandle(handle), name, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                           FILE_CREATE, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT,
                           attributes, &created)
            : STATUS_OBJECT_NAME_INVALID;
    if (!succeeded(status, name, &error))
        return false;
    file->handle = created.release();
    return true;
}

bool NativeDir::openFile(const QString &name, QIODevice::OpenMode mode, QFile *file) const
{
    const bool write = mode & QIODevice::WriteOnly;
    const ACCESS_MASK access = FILE_GENERIC_READ | (write ? FILE_GENERIC_WRITE : 0);
    NativeHandle opened;
    ULONG attributes = 0;
    NTSTATUS status = STATUS_OBJECT_NAME_INVALID;
    if (!(mode & QIODevice::NewOnly))
        status = openPlain(toHandle(handle), name, access, FILE_NON_DIRECTORY_FILE, &opened,
                           &attributes);
    else if (isPlainName(name))
        status = openRelative(toHandle(handle), name, access, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT,
                              FILE_ATTRIBUTE_NORMAL, &opened);
    if (!succeeded(status, name, &error))
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(opened.get(), &info) || info.nNumberOfLinks != 1) {
        error = describe(name, QStringLiteral("not a plain file with one name"));
        return false;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(opened.get()),
                                   (write ? _O_RDWR : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        error = describe(name, QStringLiteral("cannot open"));
        return false;
    }
    opened.release(); // the descriptor owns it now
    if (file->open(fd, mode & ~QIODevice::NewOnly, QFileDevice::AutoCloseHandle))
        return true;
    _close(fd);
    error = describe(name, QStringLiteral("cannot open"));
    return false;
}

bool NativeDir::readFile(const QString &name, qint64 maxBytes, QByteArray *content) const
{
    NativeHandle file;
    ULONG attributes = 0;
    const NTSTATUS status = openPlain(toHandle(handle), name, FILE_READ_DATA,
                                      FILE_NON_DIRECTORY_FILE, &file, &attributes);
    if (!succeeded(status, name, &error))
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        error = describe(name, qt_error_string(int(GetLastError())));
        return false;
    }
    if (size.QuadPart > maxBytes)
        return succeeded(STATUS_FILE_TOO_LARGE, name, &error);
    // Read to the end rather than to the size seen: the file may have changed since.
    QByteArray data;
    char piece[65536];
    forever {
        DWORD got = 0;
        if (!ReadFile(file.get(), piece, sizeof(piece), &got, nullptr)) {
            error = describe(name, qt_error_string(int(GetLastError())));
            return false;
        }
        if (got == 0)
            break;
        if (data.size() + qint64(got) > maxBytes)
            return succeeded(STATUS_FILE_TOO_LARGE, name, &error);
        data.append(piece, int(got));
    }
    *content = data;
    return true;
}

bool NativeDir::moveNew(const QString &from, const NativeDir &to, const QString &toName) const
{
    if (!isPlainName(from) || !isPlainName(toName))
        return succeeded(STATUS_OBJECT_NAME_INVALID, from, &error);
    if (!to.isValid())
        return succeeded(STATUS_INVALID_HANDLE, from, &error);
    NativeHandle source;
    if (!succeeded(openRelative(toHandle(handle), from, DELETE, FILE_OPEN, FILE_OPEN_REPARSE_POINT,
                                0, &source),
                   from, &error))
        return false;
    // The new name is resolved in the folder whose handle it carries, not by path, and the
    // file system renames in place or fails (across volumes too): nothing is copied.
    const ULONG nameBytes = ULONG(toName.size() * sizeof(WCHAR));
    const size_t infoBytes = qMax(sizeof(FILE_RENAME_INFORMATION),
                                  offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes);
    std::vector<quint64> buffer((infoBytes + sizeof(quint64) - 1) / sizeof(quint64));
    auto info = reinterpret_cast<FILE_RENAME_INFORMATION *>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = toHandle(to.handle);
    info->FileNameLength = nameBytes;
    std::memcpy(info->FileName, toName.utf16(), nameBytes);
    IO_STATUS_BLOCK io;
    return succeeded(
            NtSetInformationFile(source.get(), &io, info, ULONG(infoBytes), FileRenameInformation),
            from, &error);
}

// Windows offers nothing cheap for this: flushing a folder's handle is not documented to write
// its names out, and flushing a whole volume takes an administrator's handle to it. Data is made
// durable file by file as it closes; NTFS journals names, so a move lost to a power cut in the
// seconds after it is lost whole, never half done.
bool NativeDir::flush() const
{
    return isValid();
}

QString NativeDir::errorString() const
{
    return error;
}
