#ifndef NATIVEHANDLE_WIN_H
#define NATIVEHANDLE_WIN_H

#include "platform/nativedir.h"

#include <QString>
#include <QStringList>

#include <utility>

// ntstatus.h has the full list of NTSTATUS values; windows.h must then leave out its few.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <winternl.h>

// The NT calls NativeDir is made of on Windows. Every name is opened by NtCreateFile relative to
// the handle of the folder that holds it, with FILE_OPEN_REPARSE_POINT: a symbolic link, a
// junction or any other reparse point is then opened itself instead of what it leads to, and is
// refused wherever a file or a folder is wanted.

// One handle, closed when it goes.
class NativeHandle
{
public:
    NativeHandle() = default;
    ~NativeHandle()
    {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
    }
    NativeHandle(const NativeHandle &) = delete;
    NativeHandle &operator=(const NativeHandle &) = delete;

    HANDLE get() const { return value; }
    HANDLE *receive() { return &value; }
    qintptr release()
    {
        return reinterpret_cast<qintptr>(std::exchange(value, INVALID_HANDLE_VALUE));
    }

private:
    HANDLE value = INVALID_HANDLE_VALUE;
};

namespace NtFile {

// Other programs' handles are not blocked, and this folder's handles do not block them:
// a held folder can still be renamed, as on Unix.
constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A held folder is listed, names are opened relative to it, and its attributes are read.
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// Removal asks for the attributes too: the read-only one is cleared where the system cannot
// ignore it.
constexpr ACCESS_MASK removalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// NativeDir keeps its handles in the portable qintptr of its header.
inline HANDLE toHandle(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

QString textOf(NTSTATUS status);
// The failure's words, after the name it concerns where there is one.
QString describe(const QString &name, const QString &text);
// Whether status is a success; if not, error says why.
bool succeeded(NTSTATUS status, const QString &name, QString *error);

bool isLink(ULONG attributes);
// One path component, and not "." or "..": a separator would reach into a subfolder and a colon
// into a data stream.
bool isPlainName(const QString &name);

// name, relative to folder, opened or created as NtCreateFile's disposition and options say,
// shared with others as share says.
NTSTATUS openRelative(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG disposition,
                      ULONG options, ULONG attributes, NativeHandle *result,
                      ULONG share = shareAll);
// The existing name itself, never what a link leads to, with its attributes.
NTSTATUS openExisting(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG options,
                      NativeHandle *result, ULONG *attributes);
// As openExisting, but a link is refused where a plain file or folder is wanted.
NTSTATUS openPlain(HANDLE folder, const QString &name, ACCESS_MASK access, ULONG options,
                   NativeHandle *result, ULONG *attributes);
// The folder itself again, with a handle of its own. Each listing takes a fresh one: the
// position of a listing belongs to the handle, and Wine lists a handle's folder only once.
NTSTATUS reopenFolder(HANDLE folder, ACCESS_MASK access, NativeHandle *result);

NTSTATUS attributesOf(HANDLE file, ULONG *attributes);
NTSTATUS setAttributes(HANDLE file, ULONG attributes);
FileIdentity idOfHandle(HANDLE file, const QString &name, QString *error);

// The names in a folder opened for listing, without "." and "..".
NTSTATUS listNames(HANDLE folder, QStringList *names);
// Deletes what is open in file (opened with removalAccess; attributes are its own).
NTSTATUS markDeleted(HANDLE file, ULONG attributes);
// What is open in entry, a real folder after everything in it; anything else (a file, a link,
// another reparse point) itself. Decided by the handle, so a name swapped for a link after the
// listing is not entered.
NTSTATUS removeOpened(HANDLE entry, ULONG attributes);

} // namespace NtFile

#endif // NATIVEHANDLE_WIN_H
