#include "platform/lockfile.h"

#include "platform/nativehandle_win.h"

#include <QDir>

using namespace NtFile;

namespace {

// What a holder writes is a line or two: more is not read.
constexpr DWORD maxHolderBytes = 512;

// The lock's folder in parent, never a link; created when asked and missing.
NTSTATUS openLockFolder(const QString &parent, const QString &folderName, bool create,
                        NativeHandle *folder)
{
    const QString native = QDir::toNativeSeparators(parent);
    NativeHandle outer;
    *outer.receive() = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
                                   folderAccess | SYNCHRONIZE, shareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (outer.get() == INVALID_HANDLE_VALUE)
        return STATUS_OBJECT_PATH_NOT_FOUND;
    if (!isPlainName(folderName))
        return STATUS_OBJECT_NAME_INVALID;
    ULONG attributes = 0;
    NTSTATUS status = openRelative(outer.get(), folderName, folderAccess | FILE_READ_ATTRIBUTES,
                                   create ? FILE_OPEN_IF : FILE_OPEN,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, folder);
    if (NT_SUCCESS(status))
        status = attributesOf(folder->get(), &attributes);
    return NT_SUCCESS(status) && isLink(attributes) ? STATUS_REPARSE_POINT_NOT_RESOLVED : status;
}

// The lock file, new, open for its holder alone: others may read it, but neither write it nor
// delete it while the handle lives.
NTSTATUS createHeld(HANDLE folder, const QString &name, NativeHandle *file)
{
    return openRelative(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_CREATE,
                        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, FILE_ATTRIBUTE_NORMAL,
                        file, FILE_SHARE_READ);
}

QByteArray readHolder(HANDLE folder, const QString &name)
{
    NativeHandle file;
    ULONG attributes = 0;
    if (!NT_SUCCESS(openPlain(folder, name, FILE_READ_DATA, FILE_NON_DIRECTORY_FILE, &file,
                              &attributes)))
        return QByteArray();
    QByteArray content(int(maxHolderBytes), '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), content.data(), maxHolderBytes, &got, nullptr))
        got = 0;
    content.truncate(int(got));
    return content;
}

} // namespace

LockFile::~LockFile()
{
    release();
}

LockFile::Result LockFile::acquire(const QString &parent, const QString &folderName,
                                   const QString &fileName, const QByteArray &content)
{
    release();
    const QString folderPath = parent + QLatin1Char('/') + folderName;
    NativeHandle dir;
    NTSTATUS status = openLockFolder(parent, folderName, true, &dir);
    if (!NT_SUCCESS(status))
        return unusable(describe(tr("the download folder %1 cannot be used").arg(folderPath),
                                 textOf(status)));
    // Rounds, as another updater may take over or remove the same stale lock meanwhile.
    for (int round = 0; round < 4; ++round) {
        {
            // Whatever has the name goes, unless a live holder keeps it from being deleted.
            NativeHandle old;
            ULONG attributes = 0;
            status = openExisting(dir.get(), fileName, removalAccess, 0, &old, &attributes);
            if (status == STATUS_SHARING_VIOLATION) {
                holderContent = readHolder(dir.get(), fileName);
                detail = describe(folderPath + QLatin1Char('/') + fileName, textOf(status));
                return Result::Held;
            }
            if (NT_SUCCESS(status))
                status = removeOpened(old.get(), attributes);
            else if (status == STATUS_OBJECT_NAME_NOT_FOUND)
                status = STATUS_SUCCESS;
        }
        if (!NT_SUCCESS(status) && status != STATUS_DELETE_PENDING)
            break;
        NativeHandle created;
        status = createHeld(dir.get(), fileName, &created);
        if (status == STATUS_OBJECT_NAME_COLLISION || status == STATUS_DELETE_PENDING) {
            Sleep(10);
            continue;
        }
        if (!NT_SUCCESS(status))
            break;
        DWORD written = 0;
        // Only the message of those who find it held depends on the content.
        if (!WriteFile(created.get(), content.constData(), DWORD(content.size()), &written,
                       nullptr))
            qWarning("cannot write %s", qPrintable(fileName));
        handle = created.release();
        name = fileName;
        return Result::Taken;
    }
    return unusable(describe(folderPath + QLatin1Char('/') + fileName, textOf(status)));
}

void LockFile::release()
{
    if (handle == -1)
        return;
    // Deleted while still held: whoever opens the name next finds no file, or a new one.
    markDeleted(toHandle(handle), FILE_ATTRIBUTE_NORMAL);
    CloseHandle(toHandle(handle));
    handle = -1;
}

bool LockFile::isHeld(const QString &parent, const QString &folderName, const QString &fileName,
                      QByteArray *holder)
{
    NativeHandle dir;
    if (!NT_SUCCESS(openLockFolder(parent, folderName, false, &dir)))
        return false;
    NativeHandle file;
    ULONG attributes = 0;
    // Asking for delete access deletes nothing, but only a holder's handle refuses it.
    const bool held = openExisting(dir.get(), fileName, DELETE, 0, &file, &attributes)
            == STATUS_SHARING_VIOLATION;
    if (held && holder)
        *holder = readHolder(dir.get(), fileName);
    return held;
}
