#include "install/packageinstaller.h"

#include "install/archivereader.h"
#include "install/entryname.h"
#include "install/entrypath.h"
#include "install/installjournal.h"
#include "install/installrecovery.h"
#include "platform/nativedir.h"
#include "platform/updatelock.h"

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QVector>

#include <memory>

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

// The archive's mode, always readable and writable by the owner.
int stagedMode(int archiveMode)
{
    return (archiveMode & 0777) | 0600;
}

// Windows' own tar.exe names the package's top "./" and every entry below it "./name".
QString withoutTop(const QString &name)
{
    return name.startsWith(QLatin1String("./")) ? name.mid(2) : name;
}

struct Entry
{
    QString path; // relative to the target, without a trailing '/'
    bool isDir;
    int mode;
    qint64 size;
    NativeDir::FileId staged;
};

using Error = PackageInstaller::Error;

// One run of an installation: read and check every header, stream the files into a staging
// folder inside the target, then move them into place under a journal.
class Installation
{
public:
    Installation(QFile *package, const QString &targetDir, const QString &protectedFolder,
                 const std::atomic<bool> &cancelled);

    bool run();
    Error kind = Error::NoError;
    QString error;

private:
    // A refusal is the package's fault; a failure the disk's.
    bool fail(const QString &reason, const QString &subject);
    bool failed(const QString &reason, const QString &subject);
    bool readHeaders();
    bool addEntry(archive_entry *header);
    bool checkExistingLinks();
    bool checkFreeSpace();
    bool makeStaging();
    bool stage();
    bool stageFile(ArchiveReader &reader, archive_entry *header, int index, qint64 &total);
    bool moveIntoPlace();
    void removeStaging();

    QFile *package;
    QString targetDir;
    QString target; // canonical
    NativeDir targetHandle;
    QString protectedKey;
    const std::atomic<bool> &cancelled;
    QVector<Entry> entries;
    QHash<QString, bool> kinds; // case-folded path of everything the package fills -> is a folder
    QStringList dirs; // every folder the package needs, parents first
    qint64 declaredTotal = 0;
    qint64 nameCharacters = 0;
    QString stagingName;
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
        return failed(QStringLiteral("target directory not found"), targetDir);
    targetHandle = NativeDir::open(target);
    if (!targetHandle.isValid())
        return failed(QStringLiteral("cannot open the target directory"), target);
    if (!readHeaders() || !checkExistingLinks() || !checkFreeSpace())
        return false;
    if (!makeStaging() || !stage()) {
        removeStaging();
        return false;
    }
    return moveIntoPlace();
}

bool Installation::fail(const QString &reason, const QString &subject)
{
    if (error.isEmpty()) {
        kind = Error::Refused;
        error = reason + QLatin1String(": ") + subject;
    }
    return false;
}

bool Installation::failed(const QString &reason, const QString &subject)
{
    if (error.isEmpty()) {
        kind = Error::Failed;
        error = reason + QLatin1String(": ") + subject;
    }
    return false;
}

bool Installation::readHeaders()
{
    const qint64 claimed = ArchiveReader::claimedEntryCount(*package);
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
    const QString name = entryName(header);
    if (name.isNull())
        return fail(QStringLiteral("unsafe entry name"), QStringLiteral("(not UTF-8)"));
    const auto type = archive_entry_filetype(header);
    if (type == AE_IFLNK || archive_entry_hardlink(header))
        return fail(QStringLiteral("link entry"), name);
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_is_encrypted(header))
        return fail(QStringLiteral("unsupported entry"), name);
    const bool isDir = type == AE_IFDIR;
    if (isDir && name == QLatin1String("./")) {
        entries.append({ QString(), true, 0, 0, {} });
        return true;
    }
    QString path = withoutTop(name);
    if (isDir && path.endsWith(QLatin1Char('/')))
        path.chop(1);

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
    // The updater's own folder holds the downloads and the update lock.
    if ((!protectedKey.isEmpty() && first == protectedKey)
        || first == UpdateLock::folderName().toCaseFolded()
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
    entries.append({ path, isDir, int(archive_entry_perm(header)) & 0777, size, {} });
    return true;
}

// The files are moved through folder handles that never follow a link, so a folder of the
// package that is a link in the target could never be filled: refused before anything is written.
bool Installation::checkExistingLinks()
{
    for (const QString &dir : qAsConst(dirs)) {
        if (QFileInfo(target + QLatin1Char('/') + dir).isSymLink())
            return fail(QStringLiteral("entry leads through a link"), dir);
    }
    return true;
}

bool Installation::checkFreeSpace()
{
    if (declaredTotal > package->size() * maxExpansion + expansionAllowance)
        return fail(QStringLiteral("package inflates too far"),
                    QStringLiteral("%1 bytes declared").arg(declaredTotal));
    const QStorageInfo storage(target);
    if (storage.isValid() && storage.bytesAvailable() - freeSpaceMargin < declaredTotal)
        return failed(
                QStringLiteral("not enough free space"),
                QStringLiteral("%1 bytes needed on %2").arg(declaredTotal).arg(storage.rootPath()));
    return true;
}

bool Installation::makeStaging()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100 && stagingName.isEmpty(); ++attempt) {
        QString name = InstallJournal::stagingPrefix();
        for (int i = 0; i < 8; ++i)
            name += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
        if (targetHandle.makeFolder(name))
            stagingName = name;
        else if (targetHandle.kindOf(name) == NativeDir::Kind::Missing)
            break;
    }
    if (stagingName.isEmpty())
        return failed(QStringLiteral("cannot create staging folder"), target);
    journal = std::make_unique<InstallJournal>(targetHandle, stagingName);
    if (!journal->isValid())
        return failed(QStringLiteral("cannot open staging folder"), stagingName);
    // Every bucket before the first file: on ext4, folders made between the files slow the
    // creating of the files down (docs/benchmarks.md).
    for (const QString &bucket : InstallJournal::bucketNames(entries.size())) {
        if (!journal->staging().makeFolder(bucket))
            return failed(QStringLiteral("cannot create staging folder"), bucket);
    }
    return true;
}

bool Installation::stage()
{
    ArchiveReader reader(package);
    if (!reader.open())
        return fail(QStringLiteral("package is not a readable zip archive"), reader.lastError());
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
    Entry &entry = entries[index];
    if (withoutTop(entryName(header)) != entry.path)
        return fail(QStringLiteral("package changed while reading"), entry.path);
    const NativeDir &bucket = journal->bucket(index);
    NativeDir::File out;
    if (!bucket.createFile(InstallJournal::stagedName(index), stagedMode(entry.mode), &out))
        return failed(QStringLiteral("cannot write"), bucket.errorString());
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
            return failed(QStringLiteral("cannot write"), entry.path);
    }
    // libarchive has checked the CRC at the end of the data; the size is checked here.
    if (written != entry.size)
        return fail(QStringLiteral("damaged entry"), entry.path);
    if (!out.close())
        return failed(QStringLiteral("cannot write"), entry.path);
    // Taken once the file is closed: some systems set the write time only then.
    entry.staged = bucket.idOf(InstallJournal::stagedName(index));
    if (!entry.staged.isValid())
        return failed(QStringLiteral("cannot write"), entry.path);
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
        const Entry &entry = entries.at(i);
        if (!entry.isDir)
            files.append({ i, entry.path, entry.staged, stagedMode(entry.mode) });
    }
    if (!journal->write(newDirs, files)) {
        removeStaging();
        return failed(journal->errorString(), stagingName);
    }
    if (journal->carryOut(cancelled) && journal->commit()) {
        journal.reset();
        InstallJournal::removeFinished(targetHandle, stagingName);
        return true;
    }
    failed(journal->errorString(), target);
    if (journal->rollBack()) {
        removeStaging();
        return false;
    }
    kind = Error::RollBackIncomplete;
    error += QLatin1String("; could not undo everything (") + journal->errorString()
            + QLatin1String("), replaced files are kept in ") + target + QLatin1Char('/')
            + stagingName;
    return false;
}

void Installation::removeStaging()
{
    journal.reset();
    if (!stagingName.isEmpty())
        targetHandle.removeTree(stagingName);
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
    reason.clear();
    lastError = Error::NoError;
    const auto refuse = [this](Error kind, const QString &why) {
        lastError = kind;
        reason = why;
        return false;
    };
    QFile owned(packagePath);
    QFile *file = package;
    if (!file) {
        if (!owned.open(QIODevice::ReadOnly))
            return refuse(Error::Refused, QLatin1String("cannot open package: ") + packagePath);
        file = &owned;
    }
    if (file->isSequential() || !file->isOpen())
        return refuse(Error::Refused, QLatin1String("cannot open package: ") + file->fileName());

    UpdateLock lock(UpdateLock::folderOf(targetDir));
    if (!lock.tryLock())
        return refuse(Error::Busy,
                      QLatin1String("another update is running: ") + lock.errorString());
    // What an earlier install left is settled first; one that cannot be stays untouched, and
    // nothing is installed over it.
    InstallRecovery recovery(targetDir);
    switch (recovery.run()) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::RolledBack:
        break;
    case InstallRecovery::Outcome::Busy:
        return refuse(Error::Busy, recovery.errorString());
    case InstallRecovery::Outcome::Unreadable:
    case InstallRecovery::Outcome::Incomplete:
        return refuse(Error::RollBackIncomplete,
                      QLatin1String("an earlier update is not settled: ") + recovery.errorString());
    }

    Installation installation(file, targetDir, protectedFolder, cancelled);
    if (installation.run())
        return true;
    // Whatever else went wrong on the way, a cancelled install that was undone is cancelled.
    if (cancelled && installation.kind != Error::RollBackIncomplete)
        return refuse(Error::Cancelled, QStringLiteral("cancelled"));
    return refuse(installation.kind, installation.error);
}

QString PackageInstaller::errorString() const
{
    return reason;
}

void PackageInstaller::cancel()
{
    cancelled = true;
}

PackageInstaller::Error PackageInstaller::error() const
{
    return lastError;
}
