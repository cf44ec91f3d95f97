#include "platform/nativehandle_win.h"

#include <vector>

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

bool isRealFolder(ULONG attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !NtFile::isLink(attributes);
}

} // namespace

namespace NtFile {

QString textOf(NTSTATUS status)
{
    const ULONG code = RtlNtStatusToDosError(status);
    if (code == ERROR_MR_MID_NOT_FOUND)
        return QStringLiteral("NTSTATUS 0x%1").arg(quint32(status), 8, 16, QLatin1Char('0'));
    return qt_error_string(int(code));
}

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

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 32767 && name != QLatin1String(".")
            && name != QLatin1String("..") && !name.contains(QLatin1Char('/'))
            && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char(':'))
            && !name.contains(QChar(0));
}

NTSTATUS openRelative(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG disposition,
                      ULONG options, ULONG attributes, NativeHandle *result, ULONG share)
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
                        share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
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

NTSTATUS openExisting(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG options,
                      NativeHandle *result, ULONG *attributes)
{
    if (!isPlainName(name))
        return STATUS_OBJECT_NAME_INVALID;
    const NTSTATUS status = openRelative(folder, name, access | FILE_READ_ATTRIBUTES, FILE_OPEN,
                                         options | FILE_OPEN_REPARSE_POINT, 0, result);
    return NT_SUCCESS(status) ? attributesOf(result->get(), attributes) : status;
}

NTSTATUS openPlain(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG options,
                   NativeHandle *result, ULONG *attributes)
{
    const NTSTATUS status = openExisting(folder, name, access, options, result, attributes);
    return NT_SUCCESS(status) && isLink(*attributes) ? STATUS_STOPPED_ON_SYMLINK : status;
}

NTSTATUS reopenFolder(HANDLE folder, ACCESS_MASK access, NativeHandle *result)
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

NTSTATUS removeOpened(HANDLE entry, ULONG attributes)
{
    if (isRealFolder(attributes)) {
        QStringList names;
        {
            NativeHandle listing;
            NTSTATUS status = reopenFolder(entry, FILE_LIST_DIRECTORY, &listing);
            if (NT_SUCCESS(status))
                status = listNames(listing.get(), &names);
            if (!NT_SUCCESS(status))
                return status;
        }
        // Whatever can go goes; the first failure is the one told.
        NTSTATUS failure = STATUS_SUCCESS;
        for (const QString &name : qAsConst(names)) {
            NativeHandle child;
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

FileIdentity idOfHandle(HANDLE file, const QString &name, QString *error)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        if (error)
            *error = describe(name, qt_error_string(int(GetLastError())));
        return FileIdentity();
    }
    // 100 ns units since 1601.
    return { info.dwVolumeSerialNumber, (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
             qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
             qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32)
                    | info.ftLastWriteTime.dwLowDateTime) };
}

} // namespace NtFile
