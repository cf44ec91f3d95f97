#include "platform/nativefile.h"

#include "platform/nativecall_unix.h"

#include <fcntl.h>
#include <unistd.h>

NativeFile::~NativeFile()
{
    close();
}

bool NativeFile::isOpen() const
{
    return handle >= 0;
}

bool NativeFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t done
                = retryOnInterrupt([&] { return ::write(fdOf(handle), data, size_t(size)); });
        if (done <= 0)
            return false;
        data += done;
        size -= done;
        written += done;
    }
#ifdef Q_OS_LINUX
    // Whoever makes the files durable later finds little left to write back. Only a hint:
    // errors do not matter here, the flush reports them.
    constexpr qint64 writeBackPiece = 8 << 20;
    if (written - writtenBack >= writeBackPiece) {
        ::sync_file_range(fdOf(handle), writtenBack, written - writtenBack, SYNC_FILE_RANGE_WRITE);
        writtenBack = written;
    }
#endif
    return true;
}

bool NativeFile::flush()
{
    return handle >= 0 && retryOnInterrupt([&] { return ::fsync(fdOf(handle)); }) == 0;
}

bool NativeFile::close()
{
    if (handle < 0)
        return true;
    const bool closed = ::close(fdOf(handle)) == 0;
    handle = -1;
    return closed;
}

FileIdentity NativeFile::id() const
{
    struct stat info;
    if (handle < 0 || ::fstat(fdOf(handle), &info) != 0)
        return {};
    return identityOf(info);
}
