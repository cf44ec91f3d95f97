#include "platform/lockfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a holder writes is a line or two: more is not read.
constexpr int maxHolderBytes = 512;

QString why(const QString &what)
{
    return what + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

int openFolderAt(int parent, const char *name)
{
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// name itself: a folder with everything in it, anything else (a link too) alone.
bool removeEntry(int parent, const char *name)
{
    if (::unlinkat(parent, name, 0) == 0)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    const int inner = openFolderAt(parent, name);
    DIR *listing = inner < 0 ? nullptr : ::fdopendir(inner);
    if (!listing) {
        if (inner >= 0)
            ::close(inner);
        return false;
    }
    bool removed = true;
    while (const dirent *entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            removed &= removeEntry(::dirfd(listing), entry->d_name);
    }
    ::closedir(listing);
    return removed && ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

QByteArray readHolder(int fd)
{
    QByteArray content(maxHolderBytes, '\0');
    const ssize_t got = ::pread(fd, content.data(), size_t(content.size()), 0);
    content.truncate(got < 0 ? 0 : int(got));
    return content;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The lock's folder in parent, never through a link; -1 with errno where it cannot be had.
int openLockFolder(const QString &parent, const QString &folderName, bool create)
{
    const int outer
            = ::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (outer < 0)
        return -1;
    const QByteArray name = QFile::encodeName(folderName);
    int folder = -1;
    if (!create || ::mkdirat(outer, name.constData(), 0755) == 0 || errno == EEXIST)
        folder = openFolderAt(outer, name.constData());
    const int saved = errno;
    ::close(outer);
    errno = saved;
    return folder;
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
    const int dir = openLockFolder(parent, folderName, true);
    if (dir < 0)
        return unusable(why(tr("the download folder %1 cannot be used").arg(folderPath)));
    const QByteArray native = QFile::encodeName(fileName);
    // Rounds, as another updater may take over or remove the same stale lock meanwhile.
    for (int round = 0; round < 4; ++round) {
        const int fd
                = ::openat(dir, native.constData(),
                           O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        struct stat opened = {};
        if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            const bool misplaced = fd >= 0 || errno == ELOOP || errno == EISDIR || errno == ENXIO
                    || errno == EAGAIN || errno == EOPNOTSUPP;
            if (fd >= 0)
                ::close(fd);
            // A folder, a link or a device where the lock belongs is nobody's lock.
            if (misplaced && removeEntry(dir, native.constData()))
                continue;
            detail = why(folderPath + QLatin1Char('/') + fileName);
            break;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            detail = why(folderPath + QLatin1Char('/') + fileName);
            holderContent = readHolder(fd);
            ::close(fd);
            if (!held)
                break;
            ::close(dir);
            return Result::Held;
        }
        // The holder removes the file as it lets go: the lock is whatever file has the name.
        struct stat named = {};
        if (::fstatat(dir, native.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
            || !sameFile(named, opened)) {
            ::close(fd);
            continue;
        }
        // Only the message of those who find it held depends on the content.
        if (::ftruncate(fd, 0) != 0
            || ::pwrite(fd, content.constData(), size_t(content.size()), 0)
                    != ssize_t(content.size()))
            qWarning("%s", qPrintable(why(QStringLiteral("cannot write ") + fileName)));
        handle = fd;
        folder = dir;
        name = fileName;
        return Result::Taken;
    }
    ::close(dir);
    if (detail.isEmpty())
        detail = tr("the update lock in %1 keeps changing").arg(folderPath);
    return Result::Unusable;
}

void LockFile::release()
{
    if (handle < 0)
        return;
    const QByteArray native = QFile::encodeName(name);
    struct stat own = {};
    struct stat named = {};
    if (::fstat(int(handle), &own) == 0
        && ::fstatat(int(folder), native.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && sameFile(own, named))
        ::unlinkat(int(folder), native.constData(), 0);
    ::close(int(handle));
    ::close(int(folder));
    handle = folder = -1;
}

bool LockFile::isHeld(const QString &parent, const QString &folderName, const QString &fileName,
                      QByteArray *holder)
{
    const int dir = openLockFolder(parent, folderName, false);
    if (dir < 0)
        return false;
    const int fd = ::openat(dir, QFile::encodeName(fileName).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ::close(dir);
    if (fd < 0)
        return false;
    struct stat opened = {};
    // Shared: two lookers do not see each other as holders.
    const bool held = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)
            && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (held && holder)
        *holder = readHolder(fd);
    ::close(fd);
    return held;
}
