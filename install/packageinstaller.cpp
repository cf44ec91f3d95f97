#include "install/packageinstaller.h"

#include "install/entrypath.h"
#include "install/installjournal.h"

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QVector>
#include <QtEndian>

#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int maxEntries = 100000;
// All names together, in characters: bounds what the checks hold in memory whatever the count.
constexpr qint64 maxNameCharacters = 16 * 1024 * 1024;
// No file of ours comes near this; a bigger declared size is a damaged or hostile header.
constexpr qint64 maxEntrySize = qint64(4) << 30;
// Left free on the target's disk after the install, for the system and the program's first run.
constexpr qint64 freeSpaceMargin = qint64(64) << 20;
// Deflate inflates at most about 1,000 times; real programs and data shrink a few times, so a
// package declaring more than this ratio of its own size is a bomb, refused before inflating.
constexpr qint64 maxExpansion = 100;
constexpr qint64 expansionAllowance = qint64(16) << 20;
// Piece in which the package is read from the disk.
constexpr int readPieceSize = 256 * 1024;

// The archive's mode, always readable and writable by the owner.
int stagedMode(int archiveMode)
{
    return (archiveMode & 0777) | 0600;
}

#ifndef Q_OS_WIN
// Staged files and moves go straight to the system: a package of many small files spends its
// time in these calls, and QFile and QFileInfo add a stat or an access check to each.

// One staged file, created new: a name that exists already is an error, never overwritten.
class StagedFile
{
public:
    StagedFile() = default;
    ~StagedFile() { close(); }
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    bool open(const QString &path, int mode)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    0600);
        // Set, not asked for at creation: the umask must not narrow the archive's mode.
        return fd >= 0 && ::fchmod(fd, mode_t(mode)) == 0;
    }

    bool write(const char *data, qint64 size)
    {
        while (size > 0) {
            const ssize_t done = ::write(fd, data, size_t(size));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                return false;
            data += done;
            size -= done;
            written += done;
        }
#ifdef Q_OS_LINUX
        // The journal makes every staged file durable before the first move; writing back a
        // large file meanwhile leaves that flush little to wait for. Only a hint: errors do not
        // matter here, the flush reports them.
        if (written - writtenBack >= writeBackPiece) {
            ::sync_file_range(fd, writtenBack, written - writtenBack, SYNC_FILE_RANGE_WRITE);
            writtenBack = written;
        }
#endif
        return true;
    }

    bool close()
    {
        const bool closed = fd < 0 || ::close(fd) == 0;
        fd = -1;
        return closed;
    }

private:
    static constexpr qint64 writeBackPiece = 8 << 20;
    int fd = -1;
    qint64 written = 0;
    qint64 writtenBack = 0;
};

// Moves from onto to; fails with EEXIST where to exists already, never replacing it.
bool moveNew(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray destination = QFile::encodeName(to);
#ifdef Q_OS_LINUX
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, destination.constData(),
                    RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno != EINVAL)
        return false;
        // A file system without RENAME_NOREPLACE: look first.
#endif
    struct stat existing;
    if (::lstat(destination.constData(), &existing) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::rename(source.constData(), destination.constData()) == 0;
}
#else
constexpr QFile::Permissions executeBits
        = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;

QFile::Permissions permissionsOf(int mode)
{
    return QFile::Permissions(((mode & 0700) << 6) | ((mode & 070) << 1) | (mode & 07));
}

class StagedFile
{
public:
    bool open(const QString &path, int mode)
    {
        file.setFileName(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::NewOnly)
                && file.setPermissions(permissionsOf(mode));
    }
    bool write(const char *data, qint64 size) { return file.write(data, size) == size; }
    bool close()
    {
        file.close();
        return file.error() == QFileDevice::NoError;
    }

private:
    QFile file;
};

// QFile refuses to move onto an existing name.
bool moveNew(const QString &from, const QString &to)
{
    return QFile::rename(from, to);
}
#endif

// The entry count the end record claims, read before libarchive loads the whole central
// directory into memory: a 100 MB package of empty entries would make it hold millions.
// -1 when there is no end record to read; libarchive then says what is wrong.
qint64 claimedEntryCount(QFile &file)
{
    constexpr int endRecordSize = 22;
    constexpr int maxCommentSize = 0xffff;
    const qint64 size = file.size();
    const qint64 tailStart = qMax<qint64>(0, size - endRecordSize - maxCommentSize);
    if (!file.seek(tailStart))
        return -1;
    const QByteArray tail = file.read(size - tailStart);
    const int at = tail.lastIndexOf("PK\x05\x06");
    if (at < 0 || at + endRecordSize > tail.size())
        return -1;
    const quint16 count = qFromLittleEndian<quint16>(tail.constData() + at + 10);
    // Zip64 keeps the real count in a record the locator just before the end record points at.
    if (count != 0xffff || at < 20
        || qFromLittleEndian<quint32>(tail.constData() + at - 20) != 0x07064b50)
        return count;
    const qint64 recordAt = qFromLittleEndian<qint64>(tail.constData() + at - 20 + 8);
    if (recordAt < 0 || !file.seek(recordAt))
        return -1;
    const QByteArray record = file.read(40);
    if (record.size() != 40 || !record.startsWith("PK\x06\x06"))
        return -1;
    return qFromLittleEndian<qint64>(record.constData() + 32);
}

// libarchive reading from an open QFile through callbacks, seekable so that the zip reader
// takes the central directory as the truth.
class ArchiveReader
{
public:
    explicit ArchiveReader(QFile *file)
        : file(file)
        , handle(archive_read_new())
        , buffer(readPieceSize)
    { }
    ~ArchiveReader() { archive_read_free(handle); }
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    bool open()
    {
        if (!file->seek(0))
            return false;
        archive_read_support_format_zip_seekable(handle);
        archive_read_set_callback_data(handle, this);
        archive_read_set_read_callback(handle, &ArchiveReader::read);
        archive_read_set_seek_callback(handle, &ArchiveReader::seek);
        archive_read_set_skip_callback(handle, &ArchiveReader::skip);
        return archive_read_open1(handle) == ARCHIVE_OK;
    }

    archive *get() const { return handle; }

    QString lastError() const
    {
        const char *message = archive_error_string(handle);
        return message ? QString::fromUtf8(message) : QStringLiteral("unknown error");
    }

private:
    static la_ssize_t read(archive *handle, void *data, const void **block)
    {
        auto *self = static_cast<ArchiveReader *>(data);
        const qint64 got = self->file->read(self->buffer.data(), qint64(self->buffer.size()));
        if (got < 0) {
            archive_set_error(handle, EIO, "cannot read the package");
            return -1;
        }
        *block = self->buffer.data();
        return la_ssize_t(got);
    }

    static la_int64_t seek(archive *handle, void *data, la_int64_t offset, int whence)
    {
        auto *self = static_cast<ArchiveReader *>(data);
        const qint64 base = whence == SEEK_SET ? 0
                : whence == SEEK_CUR           ? self->file->pos()
                                               : self->file->size();
        const qint64 to = base + offset;
        if (to < 0 || to > self->file->size() || !self->file->seek(to)) {
            archive_set_error(handle, EIO, "seek outside the package");
            return ARCHIVE_FATAL;
        }
        return to;
    }

    static la_int64_t skip(archive *, void *data, la_int64_t request)
    {
        auto *self = static_cast<ArchiveReader *>(data);
        const qint64 to
                = qMin(self->file->pos() + qMax<la_int64_t>(request, 0), self->file->size());
        const qint64 from = self->file->pos();
        return self->file->seek(to) ? to - from : 0;
    }

    QFile *file;
    archive *handle;
    std::vector<char> buffer;
};

struct Entry
{
    QString path; // relative to the target, without a trailing '/'
    bool isDir;
    int mode;
    qint64 size;
};

// One run of an installation: read and check every header, stream the files into a staging
// folder inside the target, then move them into place under a journal.
class Installation
{
public:
    Installation(QFile *package, const QString &targetDir, const QString &protectedFolder,
                 const std::atomic<bool> &cancelled);

    bool run();
    QString error;

private:
    bool fail(const QString &reason, const QString &subject);
    bool readHeaders();
    bool addEntry(archive_entry *header);
    bool checkExistingLinks();
    bool checkFreeSpace();
    bool stage();
    bool stageFile(ArchiveReader &reader, archive_entry *header, int index, qint64 &total);
    bool moveIntoPlace();
    bool placeFile(const Entry &entry, int index);
    bool isInsideTarget(const QString &canonicalPath) const;
    void removeStaging();

    QFile *package;
    QString targetDir;
    QString target; // canonical
    QString protectedKey;
    const std::atomic<bool> &cancelled;
    QVector<Entry> entries;
    QHash<QString, bool> kinds; // case-folded path of everything the package fills -> is a folder
    QStringList dirs; // every folder the package needs, parents first
    qint64 declaredTotal = 0;
    qint64 nameCharacters = 0;
    QString staging;
    std::unique_ptr<InstallJournal> journal;
};

Installation::Installation(QFile *package, const QString &targetDir, const QString &protectedFolder,
                           const std::atomic<bool> &cancelled)
    : package(package)
    , targetDir(targetDir)
    , target(QFileInfo(targetDir).canonicalFilePath())
    , protectedKey(protectedFolder.toCaseFolded())
    , cancelled(cancelled)
{ }

bool Installation::run()
{
    if (target.isEmpty() || !QFileInfo(target).isDir())
        return fail(QStringLiteral("target directory not found"), targetDir);
    if (!readHeaders() || !checkExistingLinks() || !checkFreeSpace())
        return false;
    if (!stage()) {
        removeStaging();
        return false;
    }
    return moveIntoPlace();
}

bool Installation::fail(const QString &reason, const QString &subject)
{
    if (error.isEmpty())
        error = reason + QLatin1String(": ") + subject;
    return false;
}

bool Installation::readHeaders()
{
    const qint64 claimed = claimedEntryCount(*package);
    if (claimed > maxEntries)
        return fail(QStringLiteral("too many entries"), QString::number(claimed));
    if (claimed == 0)
        return fail(QStringLiteral("package holds no entry"), package->fileName());
    ArchiveReader reader(package);
    if (!reader.open())
        return fail(QStringLiteral("package is not a readable zip archive"), reader.lastError());
    archive_entry *header = nullptr;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &header);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK)
            return fail(QStringLiteral("package is not a readable zip archive"),
                        reader.lastError());
        if (entries.size() == maxEntries)
            return fail(QStringLiteral("too many entries"), QString::number(maxEntries + 1));
        if (!addEntry(header))
            return false;
        // Seekable zips skip by seeking: nothing is inflated in this pass.
        if (archive_read_data_skip(reader.get()) != ARCHIVE_OK)
            return fail(QStringLiteral("package is not a readable zip archive"),
                        reader.lastError());
    }
    if (entries.isEmpty())
        return fail(QStringLiteral("package holds no entry"), package->fileName());
    // libarchive lists what the central directory holds; an end record that counts otherwise
    // belongs to a cut or patched archive. 0xffff may be a count past 16 bits without zip64.
    if (claimed >= 0 && claimed != 0xffff && claimed != entries.size())
        return fail(QStringLiteral("package is not a readable zip archive"),
                    QStringLiteral("the end record counts %1 entries, the directory holds %2")
                            .arg(claimed)
                            .arg(entries.size()));
    return true;
}

bool Installation::addEntry(archive_entry *header)
{
    const char *utf8 = archive_entry_pathname_utf8(header);
    if (!utf8)
        return fail(QStringLiteral("unsafe entry name"), QStringLiteral("(not UTF-8)"));
    const QString name = QString::fromUtf8(utf8);
    const auto type = archive_entry_filetype(header);
    if (type == AE_IFLNK || archive_entry_hardlink(header))
        return fail(QStringLiteral("link entry"), name);
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_is_encrypted(header))
        return fail(QStringLiteral("unsupported entry"), name);
    const bool isDir = type == AE_IFDIR;
    const QString path = isDir && name.endsWith(QLatin1Char('/')) ? name.chopped(1) : name;

    nameCharacters += path.size();
    if (nameCharacters > maxNameCharacters)
        return fail(QStringLiteral("names too long in total"), name);
    const QString problem = EntryPath::problem(path);
    if (!problem.isEmpty())
        return fail(problem, name);
    if (!isDir && !archive_entry_size_is_set(header))
        return fail(QStringLiteral("unsupported entry"), name);
    const qint64 size = isDir ? 0 : archive_entry_size(header);
    if (size < 0 || size > maxEntrySize)
        return fail(QStringLiteral("entry too large"), name);

    // Windows compares names without case, so the checks do too, whatever the system here.
    const QString key = path.toCaseFolded();
    const int firstSlash = key.indexOf(QLatin1Char('/'));
    const QString first = firstSlash < 0 ? key : key.left(firstSlash);
    if ((!protectedKey.isEmpty() && first == protectedKey)
        || first.startsWith(InstallJournal::stagingPrefix().toCaseFolded()))
        return fail(QStringLiteral("entry in a protected folder"), name);

    const auto known = kinds.constFind(key);
    if (known != kinds.cend() && !(isDir && known.value()))
        return fail(QStringLiteral("entry clashes with another entry"), name);
    if (known == kinds.cend()) {
        kinds.insert(key, isDir);
        // Walk up only until a known folder: every folder is visited once in the whole run,
        // which keeps the checks linear in the entry count.
        QStringList newParents;
        if (isDir)
            newParents.append(path);
        for (int slash = key.lastIndexOf(QLatin1Char('/')); slash > 0;
             slash = key.lastIndexOf(QLatin1Char('/'), slash - 1)) {
            const auto parent = kinds.constFind(key.left(slash));
            if (parent != kinds.cend()) {
                if (!parent.value())
                    return fail(QStringLiteral("entry clashes with another entry"), name);
                break;
            }
            kinds.insert(key.left(slash), true);
            newParents.append(path.left(slash));
        }
        for (auto dir = newParents.crbegin(); dir != newParents.crend(); ++dir)
            dirs.append(*dir);
    }
    declaredTotal += size;
    entries.append({ path, isDir, int(archive_entry_perm(header)) & 0777, size });
    return true;
}

// Folders of the target that are links leading out of it would carry the package outside.
bool Installation::checkExistingLinks()
{
    for (const QString &dir : qAsConst(dirs)) {
        const QFileInfo existing(target + QLatin1Char('/') + dir);
        if (existing.isSymLink() && !isInsideTarget(existing.canonicalFilePath()))
            return fail(QStringLiteral("entry leads outside the target directory"), dir);
    }
    return true;
}

bool Installation::isInsideTarget(const QString &canonicalPath) const
{
    return !canonicalPath.isEmpty()
            && (canonicalPath == target || canonicalPath.startsWith(target + QLatin1Char('/')));
}

bool Installation::checkFreeSpace()
{
    if (declaredTotal > package->size() * maxExpansion + expansionAllowance)
        return fail(QStringLiteral("package inflates too far"),
                    QStringLiteral("%1 bytes declared").arg(declaredTotal));
    const QStorageInfo storage(target);
    if (storage.isValid() && storage.bytesAvailable() - freeSpaceMargin < declaredTotal)
        return fail(
                QStringLiteral("not enough free space"),
                QStringLiteral("%1 bytes needed on %2").arg(declaredTotal).arg(storage.rootPath()));
    return true;
}

bool Installation::stage()
{
    QTemporaryDir folder(target + QLatin1Char('/') + InstallJournal::stagingPrefix()
                         + QLatin1String("XXXXXX"));
    if (!folder.isValid())
        return fail(QStringLiteral("cannot create staging folder"), target);
    // From here on the folder's fate is decided by the install, not by this object.
    folder.setAutoRemove(false);
    staging = folder.path();
    journal = std::make_unique<InstallJournal>(staging, target);

    ArchiveReader reader(package);
    if (!reader.open())
        return fail(QStringLiteral("package is not a readable zip archive"), reader.lastError());
    // Every bucket before the first file: made one at a time between the files, they made
    // creating the files three to four times slower on ext4 (measured with 65,535 files).
    for (const QString &bucket : journal->bucketPaths(entries.size())) {
        if (!QDir().mkdir(bucket))
            return fail(QStringLiteral("cannot create staging folder"), bucket);
    }
    qint64 total = 0;
    for (int i = 0; i < entries.size(); ++i) {
        archive_entry *header = nullptr;
        if (archive_read_next_header(reader.get(), &header) != ARCHIVE_OK)
            return fail(QStringLiteral("package is not a readable zip archive"),
                        reader.lastError());
        if (!entries.at(i).isDir && !stageFile(reader, header, i, total))
            return false;
    }
    return true;
}

// Streams one entry into its staging file, stopping the moment it passes its declared size.
bool Installation::stageFile(ArchiveReader &reader, archive_entry *header, int index, qint64 &total)
{
    const Entry &entry = entries.at(index);
    const char *name = archive_entry_pathname_utf8(header);
    if (!name || QString::fromUtf8(name) != entry.path)
        return fail(QStringLiteral("package changed while reading"), entry.path);
    const QString staged = journal->stagedPath(index);
    StagedFile out;
    if (!out.open(staged, stagedMode(entry.mode)))
        return fail(QStringLiteral("cannot write"), staged);
    qint64 written = 0;
    for (;;) {
        if (cancelled)
            return fail(QStringLiteral("cancelled"), entry.path);
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader.get(), &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK || offset != written)
            return fail(QStringLiteral("damaged entry"), entry.path);
        written += qint64(size);
        total += qint64(size);
        if (written > entry.size || total > declaredTotal)
            return fail(QStringLiteral("entry larger than declared"), entry.path);
        if (!out.write(static_cast<const char *>(block), qint64(size)))
            return fail(QStringLiteral("cannot write"), staged);
    }
    // libarchive has checked the CRC at the end of the data; the size is checked here.
    if (written != entry.size)
        return fail(QStringLiteral("damaged entry"), entry.path);
    if (!out.close())
        return fail(QStringLiteral("cannot write"), staged);
    return true;
}

bool Installation::moveIntoPlace()
{
    QStringList newDirs;
    QVector<InstallJournal::File> files;
    for (const QString &dir : qAsConst(dirs)) {
        if (!QFileInfo(target + QLatin1Char('/') + dir).isDir())
            newDirs.append(dir);
    }
    for (int i = 0; i < entries.size(); ++i) {
        if (!entries.at(i).isDir)
            files.append({ i, entries.at(i).path });
    }
    if (!journal->write(newDirs, files)) {
        removeStaging();
        return fail(QStringLiteral("cannot write the install journal"), staging);
    }

    bool placed = true;
    for (const QString &dir : qAsConst(newDirs)) {
        // Fails as well where a file or a link already has the name.
        const QString path = target + QLatin1Char('/') + dir;
        if (!QDir().mkdir(path)) {
            placed = fail(QStringLiteral("cannot create folder"), path);
            break;
        }
    }
    for (int i = 0; placed && i < files.size(); ++i) {
        if (cancelled)
            placed = fail(QStringLiteral("cancelled"), files.at(i).path);
        else
            placed = placeFile(entries.at(files.at(i).index), files.at(i).index);
    }
    if (placed && journal->commit()) {
        removeStaging();
        return true;
    }
    if (placed)
        fail(QStringLiteral("cannot finish the install journal"), staging);
    if (journal->rollBack())
        removeStaging();
    else
        error += QLatin1String("; could not undo everything, replaced files are kept in ")
                + staging;
    return false;
}

bool Installation::placeFile(const Entry &entry, int index)
{
    const QString path = target + QLatin1Char('/') + entry.path;
    const QString staged = journal->stagedPath(index);
#ifndef Q_OS_WIN
    // Most files are new to the target: one call places them, and finds those it must not.
    if (moveNew(staged, path))
        return true;
    const QByteArray name = QFile::encodeName(path);
    struct stat existing;
    if (errno != EEXIST || ::lstat(name.constData(), &existing) != 0)
        return fail(QStringLiteral("cannot place"), path);
    if (S_ISDIR(existing.st_mode))
        return fail(QStringLiteral("a folder stands in the way of"), path);
    // The archive's mode wins, but a replaced program stays executable: through a link, the
    // program is what the link leads to.
    if (S_ISLNK(existing.st_mode) && ::stat(name.constData(), &existing) != 0)
        existing.st_mode = 0;
    const int executable = int(existing.st_mode) & 0111;
    const int mode = stagedMode(entry.mode);
    if ((executable & ~mode)
        && ::chmod(QFile::encodeName(staged).constData(), mode_t(mode | executable)) != 0)
        return fail(QStringLiteral("cannot set permissions of"), path);
    const bool replaces = true;
#else
    const QFileInfo existing(path);
    const bool replaces = existing.exists() || existing.isSymLink();
    if (existing.isDir() && !existing.isSymLink())
        return fail(QStringLiteral("a folder stands in the way of"), path);
    const QFile::Permissions executable
            = replaces ? existing.permissions() & executeBits : QFile::Permissions();
    if (executable
        && !QFile::setPermissions(staged, permissionsOf(stagedMode(entry.mode)) | executable))
        return fail(QStringLiteral("cannot set permissions of"), path);
#endif

    // The replaced file is only moved aside: it is deleted with the staging folder once the
    // whole install has succeeded.
    if (replaces && !moveNew(path, journal->backupPath(index)))
        return fail(QStringLiteral("cannot replace"), path);
    if (!moveNew(staged, path))
        return fail(QStringLiteral("cannot place"), path);
    return true;
}

void Installation::removeStaging()
{
    if (!staging.isEmpty())
        QDir(staging).removeRecursively();
}

} // namespace

PackageInstaller::PackageInstaller(const QString &packagePath, const QString &targetDir)
    : packagePath(packagePath)
    , targetDir(targetDir)
{ }

PackageInstaller::PackageInstaller(QFile *package, const QString &targetDir)
    : package(package)
    , targetDir(targetDir)
{ }

void PackageInstaller::setProtectedFolder(const QString &name)
{
    protectedFolder = name;
}

bool PackageInstaller::install()
{
    error.clear();
    QFile owned(packagePath);
    QFile *file = package;
    if (!file) {
        if (!owned.open(QIODevice::ReadOnly)) {
            error = QLatin1String("cannot open package: ") + packagePath;
            return false;
        }
        file = &owned;
    }
    if (file->isSequential() || !file->isOpen()) {
        error = QLatin1String("cannot open package: ") + file->fileName();
        return false;
    }
    Installation installation(file, targetDir, protectedFolder, cancelled);
    if (installation.run())
        return true;
    error = installation.error.startsWith(QLatin1String("cancelled")) ? QStringLiteral("cancelled")
                                                                      : installation.error;
    return false;
}

QString PackageInstaller::errorString() const
{
    return error;
}

void PackageInstaller::cancel()
{
    cancelled = true;
}

void PackageInstaller::recoverInterrupted(const QString &targetDir)
{
    InstallJournal::recover(targetDir);
}
