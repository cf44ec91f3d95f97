#include "platform/nativedir.h"

#include <QDir>

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

// ntstatus.h has the full list of NTSTATUS values; windows.h must then leave out its few.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <winternl.h>

// Every name is opened by NtCreateFile relative to the handle of the folder that holds it, with
// FILE_OPEN_REPARSE_POINT: a symbolic link, a junction or any other reparse point is then opened
// itself instead of what it leads to, and is refused wherever a file or a folder is wanted.

// In ntdll, but not in MinGW's winternl.h.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event,
                                               PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                               PIO_STATUS_BLOCK IoStatusBlock,
                                               PVOID FileInformation, ULONG Length,
                                               FILE_INFORMATION_CLASS FileInformationClass,
                                               BOOLEAN ReturnSingleEntry, PUNICODE_STRING FileName,
                                               BOOLEAN RestartScan);

namespace {

// Windows 10 1607 and later: a name marked for deletion leaves its folder at once, as on Unix,
// even while another program still has the file open; 1809 added ignoring the read-only
// attribute.
constexpr auto FileDispositionInformationEx = FILE_INFORMATION_CLASS(64);
constexpr ULONG dispositionDelete = 0x1;
constexpr ULONG dispositionPosixSemantics = 0x2;
constexpr ULONG dispositionIgnoreReadOnly = 0x10;

// The attributes FileBasicInformation accepts back.
constexpr ULONG settableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN
        | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY
        | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Other programs' handles are not blocked, and this folder's handles do not block them:
// a held folder can still be renamed, as on Unix.
constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A held folder is listed, names are opened relative to it, and its attributes are read.
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// Removal asks for the attributes too: the read-only one is cleared where the system cannot
// ignore it.
constexpr ACCESS_MASK removalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

HANDLE toHandle(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

class ScopedHandle
{
public:
    ScopedHandle() = default;
    ~ScopedHandle()
    {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
    }
    ScopedHandle(const ScopedHandle &) = delete;
    ScopedHandle &operator=(const ScopedHandle &) = delete;

    HANDLE get() const { return value; }
    HANDLE *receive() { return &value; }
    qintptr release()
    {
        return reinterpret_cast<qintptr>(std::exchange(value, INVALID_HANDLE_VALUE));
    }

private:
    HANDLE value = INVALID_HANDLE_VALUE;
};

QString textOf(NTSTATUS status)
{
    const ULONG code = RtlNtStatusToDosError(status);
    if (code == ERROR_MR_MID_NOT_FOUND)
        return QStringLiteral("NTSTATUS 0x%1").arg(quint32(status), 8, 16, QLatin1Char('0'));
    return qt_error_string(int(code));
}

// The failure's words, after the name it concerns where there is one.
QString describe(const QString &name, const QString &text)
{
    return name.isEmpty() ? text : name + QLatin1String(": ") + text;
}

bool succeeded(NTSTATUS status, const QString &name, QString *error)
{
    if (NT_SUCCESS(status))
        return true;
    *error = describe(name, textOf(status));
    return false;
}

bool isLink(ULONG attributes)
{
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT;
}

bool isRealFolder(ULONG attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink(attributes);
}

// One path component, and not "." or "..": a separator would reach into a subfolder and a colon
// into a data stream.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 32767 && name != QLatin1String(".")
            && name != QLatin1String("..") && !name.contains(QLatin1Char('/'))
            && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char(':'))
            && !name.contains(QChar(0));
}

NTSTATUS openRelative(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG disposition,
                      ULONG options, ULONG attributes, ScopedHandle *result)
{
    if (folder == INVALID_HANDLE_VALUE)
        return STATUS_INVALID_HANDLE;
    UNICODE_STRING path;
    path.Buffer = const_cast<PWSTR>(reinterpret_cast<PCWSTR>(name.utf16()));
    path.Length = path.MaximumLength = USHORT(name.size() * sizeof(WCHAR));
    OBJECT_ATTRIBUTES object = {};
    object.Length = sizeof(object);
    object.RootDirectory = folder;
    object.ObjectName = &path;
    object.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io;
    return NtCreateFile(result->receive(), access | SYNCHRONIZE, &object, &io, nullptr, attributes,
                        shareAll, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

NTSTATUS attributesOf(HANDLE file, ULONG *attributes)
{
    FILE_BASIC_INFORMATION basic;
    IO_STATUS_BLOCK io;
    const NTSTATUS status
            = NtQueryInformationFile(file, &io, &basic, sizeof(basic), FileBasicInformation);
    if (NT_SUCCESS(status))
        *attributes = basic.FileAttributes;
    return status;
}

NTSTATUS setAttributes(HANDLE file, ULONG attributes)
{
    // Times left at zero stay as they are; attributes at zero would too, hence NORMAL.
    FILE_BASIC_INFORMATION basic = {};
    basic.FileAttributes = attributes & settableAttributes;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK io;
    return NtSetInformationFile(file, &io, &basic, sizeof(basic), FileBasicInformation);
}

// The existing name itself, never what a link leads to, with its attributes.
NTSTATUS openExisting(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG options,
                      ScopedHandle *result, ULONG *attributes)
{
    if (!isPlainName(name))
        return STATUS_OBJECT_NAME_INVALID;
    const NTSTATUS status = openRelative(folder, name, access | FILE_READ_ATTRIBUTES, FILE_OPEN,
                                         options | FILE_OPEN_REPARSE_POINT, 0, result);
    return NT_SUCCESS(status) ? attributesOf(result->get(), attributes) : status;
}

// As openExisting, but a link is refused where a plain file or folder is wanted.
NTSTATUS openPlain(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG options,
                   ScopedHandle *result, ULONG *attributes)
{
    const NTSTATUS status = openExisting(folder, name, access, options, result, attributes);
    return NT_SUCCESS(status) && isLink(*attributes) ? STATUS_STOPPED_ON_SYMLINK : status;
}

// The folder itself again, with a handle of its own. Each listing takes a fresh one: the
// position of a listing belongs to the handle, and Wine lists a handle's folder only once.
NTSTATUS reopenFolder(HANDLE folder, ACCESS_MASK access, ScopedHandle *result)
{
    return openRelative(folder, QString(), access, FILE_OPEN,
                        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, result);
}

NTSTATUS listNames(HANDLE folder, QStringList *names)
{
    std::vector<quint64> buffer(8192);
    BOOLEAN restart = TRUE;
    forever {
        IO_STATUS_BLOCK io;
        const NTSTATUS status
                = NtQueryDirectoryFile(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                                       ULONG(buffer.size() * sizeof(quint64)),
                                       FileDirectoryInformation, FALSE, nullptr, restart);
        if (status == STATUS_NO_MORE_FILES || status == STATUS_NO_SUCH_FILE)
            return STATUS_SUCCESS;
        if (!NT_SUCCESS(status))
            return status;
        restart = FALSE;
        const char *entry = reinterpret_cast<const char *>(buffer.data());
        forever {
            const auto info = reinterpret_cast<const FILE_DIRECTORY_INFORMATION *>(entry);
            const QString name = QString::fromWCharArray(info->FileName,
                                                         int(info->FileNameLength / sizeof(WCHAR)));
            if (name != QLatin1String(".") && name != QLatin1String(".."))
                names->append(name);
            if (info->NextEntryOffset == 0)
                break;
            entry += info->NextEntryOffset;
        }
    }
}

NTSTATUS markDeleted(HANDLE file, ULONG attributes)
{
    IO_STATUS_BLOCK io;
    ULONG flags = dispositionDelete | dispositionPosixSemantics | dispositionIgnoreReadOnly;
    NTSTATUS status
            = NtSetInformationFile(file, &io, &flags, sizeof(flags), FileDispositionInformationEx);
    if (status != STATUS_INVALID_INFO_CLASS && status != STATUS_INVALID_PARAMETER
        && status != STATUS_NOT_SUPPORTED && status != STATUS_INVALID_DEVICE_REQUEST
        && status != STATUS_NOT_IMPLEMENTED)
        return status;
    // Older systems and file systems without it: the name goes when the last handle to it
    // closes, and a read-only file or folder cannot be deleted at all.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        status = setAttributes(file, attributes & ~FILE_ATTRIBUTE_READONLY);
        if (!NT_SUCCESS(status))
            return status;
    }
    FILE_DISPOSITION_INFORMATION disposition = { TRUE };
    return NtSetInformationFile(file, &io, &disposition, sizeof(disposition),
                                FileDispositionInformation);
}

// What is open in entry, a real folder after everything in it; anything else (a file, a link,
// another reparse point) itself. Decided by the handle, so a name swapped for a link after the
// listing is not entered.
NTSTATUS removeOpened(HANDLE entry, ULONG attributes)
{
    if (isRealFolder(attributes)) {
        QStringList names;
        {
            ScopedHandle listing;
            NTSTATUS status = reopenFolder(entry, FILE_LIST_DIRECTORY, &listing);
            if (NT_SUCCESS(status))
                status = listNames(listing.get(), &names);
            if (!NT_SUCCESS(status))
                return status;
        }
        // Whatever can go goes; the first failure is the one told.
        NTSTATUS failure = STATUS_SUCCESS;
        for (const QString &name : qAsConst(names)) {
            ScopedHandle child;
            ULONG childAttributes = 0;
            NTSTATUS status = openExisting(entry, name, removalAccess, 0, &child, &childAttributes);
            if (NT_SUCCESS(status))
                status = removeOpened(child.get(), childAttributes);
            if (NT_SUCCESS(failure) && status != STATUS_OBJECT_NAME_NOT_FOUND)
                failure = status;
        }
        if (!NT_SUCCESS(failure))
            return failure;
    }
    return markDeleted(entry, attributes);
}

NativeDir::FileId idOfHandle(HANDLE file, const QString &name, QString *error)
{
    NativeDir::FileId id;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        if (error)
            *error = describe(name, qt_error_string(int(GetLastError())));
        return id;
    }
    id.volume = info.dwVolumeSerialNumber;
    id.index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // 100 ns units since 1601.
    id.modified = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32)
                         | info.ftLastWriteTime.dwLowDateTime);
    return id;
}

} // namespace

NativeDir::File::~File()
{
    close();
}

bool NativeDir::File::isOpen() const
{
    return handle != -1;
}

bool NativeDir::File::write(const char *data, qint64 size)
{
    if (!isOpen() || size < 0)
        return false;
    while (size > 0) {
        DWORD done = 0;
        const DWORD piece = DWORD(qMin<qint64>(size, 1 << 30));
        if (!WriteFile(toHandle(handle), data, piece, &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
        written += done;
    }
    return true;
}

bool NativeDir::File::flush()
{
    if (!isOpen() || !FlushFileBuffers(toHandle(handle)))
        return false;
    written = 0; // nothing for close() to flush again
    return true;
}

// The folder's flush() cannot make the data durable here, so every file that was written to is
// flushed before it closes: all staged files are on the disk before the first move.
bool NativeDir::File::close()
{
    if (!isOpen())
        return true;
    const HANDLE file = toHandle(std::exchange(handle, -1));
    const bool flushed = written == 0 || FlushFileBuffers(file);
    return CloseHandle(file) && flushed;
}

NativeDir::FileId NativeDir::File::id() const
{
    return isOpen() ? idOfHandle(toHandle(handle), QString(), nullptr) : FileId();
}

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
    ScopedHandle folder;
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
    ScopedHandle folder;
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
    ScopedHandle again;
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
    ScopedHandle listing;
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
    ScopedHandle entry;
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

NativeDir::FileId NativeDir::idOf(const QString &name) const
{
    ScopedHandle entry;
    ULONG attributes = 0;
    if (!succeeded(openExisting(toHandle(handle), name, 0, 0, &entry, &attributes), name, &error))
        return FileId();
    return idOfHandle(entry.get(), name, &error);
}

int NativeDir::modeOf(const QString &name) const
{
    if (!isPlainName(name)) {
        error = describe(name, textOf(STATUS_OBJECT_NAME_INVALID));
        return -1;
    }
    ScopedHandle entry;
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
    ScopedHandle entry;
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
    ScopedHandle folder;
    const NTSTATUS status = isPlainName(name)
            ? openRelative(toHandle(handle), name, FILE_READ_ATTRIBUTES, FILE_CREATE,
                           FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, &folder)
            : STATUS_OBJECT_NAME_INVALID;
    return succeeded(status, name, &error);
}

bool NativeDir::removeFolder(const QString &name) const
{
    ScopedHandle folder;
    ULONG attributes = 0;
    NTSTATUS status = openPlain(toHandle(handle), name, removalAccess, FILE_DIRECTORY_FILE, &folder,
                                &attributes);
    if (NT_SUCCESS(status))
        status = markDeleted(folder.get(), attributes);
    return succeeded(status, name, &error);
}

bool NativeDir::removeTree(const QString &name) const
{
    ScopedHandle entry;
    ULONG attributes = 0;
    NTSTATUS status = openExisting(toHandle(handle), name, removalAccess, 0, &entry, &attributes);
    if (NT_SUCCESS(status))
        status = removeOpened(entry.get(), attributes);
    return succeeded(status, name, &error);
}

// Windows keeps only the owner's write bit, as the read-only attribute. It is set on creation
// and does not stop this handle writing; it does stop other writes and classic deletion, not
// renaming, and removals here get past it, so an update can still move or replace the file.
bool NativeDir::createFile(const QString &name, int mode, File *file) const
{
    file->close();
    ScopedHandle created;
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

bool NativeDir::readFile(const QString &name, qint64 maxBytes, QByteArray *content) const
{
    ScopedHandle file;
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
    ScopedHandle source;
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
