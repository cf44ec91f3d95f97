#include "platform/nativefile.h"

#include "platform/nativehandle_win.h"

#include <utility>

using namespace NtFile;

NativeFile::~NativeFile()
{
    close();
}

bool NativeFile::isOpen() const
{
    return handle != -1;
}

bool NativeFile::write(const char *data, qint64 size)
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

bool NativeFile::flush()
{
    if (!isOpen() || !FlushFileBuffers(toHandle(handle)))
        return false;
    written = 0; // nothing for close() to flush again
    return true;
}

// The folder's flush() cannot make the data durable here, so every file that was written to is
// flushed before it closes: all staged files are on the disk before the first move.
bool NativeFile::close()
{
    if (!isOpen())
        return true;
    const HANDLE file = toHandle(std::exchange(handle, -1));
    const bool flushed = written == 0 || FlushFileBuffers(file);
    return CloseHandle(file) && flushed;
}

FileIdentity NativeFile::id() const
{
    return isOpen() ? idOfHandle(toHandle(handle), QString(), nullptr) : FileIdentity();
}
