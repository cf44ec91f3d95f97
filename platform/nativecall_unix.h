#ifndef NATIVECALL_UNIX_H
#define NATIVECALL_UNIX_H

#include "platform/fileidentity.h"

#include <cerrno>
#include <sys/stat.h>

// What the Unix sources of the platform share: a system call that a signal may interrupt, and
// the identity of what a stat call described.

inline int fdOf(qintptr handle)
{
    return int(handle);
}

template<typename Call> inline auto retryOnInterrupt(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

inline FileIdentity identityOf(const struct stat &info)
{
#ifdef Q_OS_DARWIN
    const qint64 modified
            = qint64(info.st_mtimespec.tv_sec) * 1000000000 + info.st_mtimespec.tv_nsec;
#else
    const qint64 modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#endif
    return { quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size), modified };
}

#endif // NATIVECALL_UNIX_H
