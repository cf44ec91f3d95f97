#include "platform/nativedir.h"

#include "platform/nativecall_unix.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <cstdio> // renameat2
#endif

namespace {

// A component handed to the calls below: one name, never a path.
bool isPlainName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

} // namespace

NativeDir::~NativeDir()
{
    if (handle >= 0)
        ::close(fdOf(handle));
}

NativeDir::NativeDir(NativeDir &&other) noexcept
    : handle(other.handle)
{
    other.handle = -1;
}

NativeDir &NativeDir::operator=(NativeDir &&other) noexcept
{
    if (this != &other) {
        if (handle >= 0)
            ::close(fdOf(handle));
        handle = other.handle;
        other.handle = -1;
    }
    return *this;
}

NativeDir NativeDir::open(const QString &path)
{
    NativeDir dir;
    dir.handle = retryOnInterrupt([&] {
        return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    if (dir.handle < 0)
        dir.error = QString::fromLocal8Bit(std::strerror(errno));
    return dir;
}

bool NativeDir::isValid() const
{
    return handle >= 0;
}

NativeDir NativeDir::openFolder(const QString &name) const
{
    NativeDir dir;
    const QByteArray native = QFile::encodeName(name);
    if (handle < 0 || !isPlainName(native)) {
        error = QStringLiteral("not a folder name: ") + name;
        return dir;
    }
    dir.handle = retryOnInterrupt([&] {
        return ::openat(fdOf(handle), native.constData(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    });
    if (dir.handle < 0)
        error = name + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return dir;
}

NativeDir NativeDir::openPath(const QString &relative) const
{
    NativeDir dir;
    if (handle < 0)
        return dir;
    const QStringList names = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        dir.handle = retryOnInterrupt([&] { return ::fcntl(fdOf(handle), F_DUPFD_CLOEXEC, 0); });
        return dir;
    }
    dir = openFolder(names.first());
    for (int i = 1; i < names.size() && dir.isValid(); ++i) {
        NativeDir next = dir.openFolder(names.at(i));
        error = dir.error;
        dir = std::move(next);
    }
    return dir;
}

QStringList NativeDir::entryNames() const
{
    QStringList names;
    const int copy = handle < 0 ? -1 : ::fcntl(fdOf(handle), F_DUPFD_CLOEXEC, 0);
    DIR *stream = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!stream) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        if (copy >= 0)
            ::close(copy);
        return names;
    }
    ::rewinddir(stream);
    while (const dirent *entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(QFile::decodeName(name));
    }
    ::closedir(stream);
    return names;
}

NativeDir::Kind NativeDir::kindOf(const QString &name) const
{
    const QByteArray native = QFile::encodeName(name);
    struct stat info;
    if (!isPlainName(native))
        return Kind::Other;
    if (::fstatat(fdOf(handle), native.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Kind::Missing : Kind::Other;
    if (S_ISLNK(info.st_mode))
        return Kind::Link;
    if (S_ISDIR(info.st_mode))
        return Kind::Folder;
    return S_ISREG(info.st_mode) ? Kind::File : Kind::Other;
}

FileIdentity NativeDir::idOf(const QString &name) const
{
    const QByteArray native = QFile::encodeName(name);
    struct stat info;
    if (!isPlainName(native)
        || ::fstatat(fdOf(handle), native.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return identityOf(info);
}

int NativeDir::modeOf(const QString &name) const
{
    const QByteArray native = QFile::encodeName(name);
    struct stat info;
    if (!isPlainName(native) || ::fstatat(fdOf(handle), native.constData(), &info, 0) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

bool NativeDir::setMode(const QString &name, int mode) const
{
    // Linux cannot change a link's mode, so without following, a link is refused.
    if (kindOf(name) != Kind::File
        || ::fchmodat(fdOf(handle), QFile::encodeName(name).constData(), mode_t(mode), 0) != 0) {
        error = name + QLatin1String(": cannot set its mode");
        return false;
    }
    return true;
}

bool NativeDir::makeFolder(const QString &name) const
{
    const QByteArray native = QFile::encodeName(name);
    if (isPlainName(native) && ::mkdirat(fdOf(handle), native.constData(), 0755) == 0)
        return true;
    error = name + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool NativeDir::removeFolder(const QString &name) const
{
    const QByteArray native = QFile::encodeName(name);
    if (isPlainName(native) && ::unlinkat(fdOf(handle), native.constData(), AT_REMOVEDIR) == 0)
        return true;
    error = name + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool NativeDir::removeTree(const QString &name) const
{
    if (kindOf(name) != Kind::Folder) {
        const bool removed = ::unlinkat(fdOf(handle), QFile::encodeName(name).constData(), 0) == 0;
        if (!removed)
            error = name + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return removed;
    }
    const NativeDir inner = openFolder(name);
    if (!inner.isValid())
        return false;
    bool removed = true;
    for (const QString &entry : inner.entryNames()) {
        if (!inner.removeTree(entry)) {
            error = inner.error;
            removed = false;
        }
    }
    return removed && removeFolder(name);
}

bool NativeDir::createFile(const QString &name, int mode, NativeFile *file) const
{
    const QByteArray native = QFile::encodeName(name);
    file->close();
    if (isPlainName(native)) {
        file->handle = retryOnInterrupt([&] {
            return ::openat(fdOf(handle), native.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        });
    }
    // Set, not asked for at creation: the umask must not narrow the mode.
    if (file->handle >= 0 && ::fchmod(fdOf(file->handle), mode_t(mode)) == 0) {
        file->written = file->writtenBack = 0;
        return true;
    }
    error = name + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
    file->close();
    return false;
}

bool NativeDir::openFile(const QString &name, QIODevice::OpenMode mode, QFile *file) const
{
    const QByteArray native = QFile::encodeName(name);
    // Non-blocking, so that a FIFO in the file's place cannot hold the open up.
    const int flags = ((mode & QIODevice::WriteOnly) ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC
            | O_NONBLOCK | ((mode & QIODevice::NewOnly) ? O_CREAT | O_EXCL : 0);
    const int fd = !isPlainName(native) ? -1 : retryOnInterrupt([&] {
        return ::openat(fdOf(handle), native.constData(), flags, 0600);
    });
    struct stat info;
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1
        && ::fcntl(fd, F_SETFL, 0) == 0
        && file->open(fd, mode & ~QIODevice::NewOnly, QFileDevice::AutoCloseHandle))
        return true;
    error = name + QLatin1String(": ")
            + (fd < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                      : QStringLiteral("not a plain file with one name"));
    if (fd >= 0)
        ::close(fd);
    return false;
}

bool NativeDir::readFile(const QString &name, qint64 maxBytes, QByteArray *content) const
{
    const QByteArray native = QFile::encodeName(name);
    const int fd = !isPlainName(native) ? -1 : retryOnInterrupt([&] {
        return ::openat(fdOf(handle), native.constData(),
                        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    });
    struct stat info;
    bool read = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
            && info.st_size <= maxBytes;
    if (read) {
        content->resize(int(info.st_size));
        qint64 at = 0;
        while (read && at < content->size()) {
            const ssize_t got = retryOnInterrupt(
                    [&] { return ::read(fd, content->data() + at, size_t(content->size() - at)); });
            read = got > 0;
            at += got;
        }
    }
    if (fd >= 0)
        ::close(fd);
    if (!read)
        error = name + QLatin1String(": cannot read");
    return read;
}

bool NativeDir::moveNew(const QString &from, const NativeDir &to, const QString &toName) const
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray destination = QFile::encodeName(toName);
    if (!isPlainName(source) || !isPlainName(destination)) {
        error = from + QLatin1String(": not a name");
        return false;
    }
#ifdef Q_OS_LINUX
    if (::renameat2(fdOf(handle), source.constData(), fdOf(to.handle), destination.constData(),
                    RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno != EINVAL) {
        error = from + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A file system without RENAME_NOREPLACE: look first. Only the update lock's holder moves
    // files here, so nothing of ours comes between the look and the move.
#endif
    struct stat existing;
    if (::fstatat(fdOf(to.handle), destination.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        errno = EEXIST;
    else if (errno == ENOENT
             && ::renameat(fdOf(handle), source.constData(), fdOf(to.handle),
                           destination.constData())
                     == 0)
        return true;
    error = from + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool NativeDir::flush() const
{
#ifdef Q_OS_LINUX
    return handle >= 0 && ::syncfs(fdOf(handle)) == 0;
#else
    ::sync();
    return handle >= 0;
#endif
}

QString NativeDir::errorString() const
{
    return error;
}
