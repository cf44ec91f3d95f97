#include "install/installation.h"

#include "install/archivereader.h"
#include "install/entryname.h"
#include "install/filemaker.h"
#include "install/packageplan.h"
#include "install/staginglayout.h"

#include <archive.h>
#include <archive_entry.h>

#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>
#include <QStorageInfo>

namespace {

// Left free on the target's disk after the install, for the system and the program's first run.
constexpr qint64 freeSpaceMargin = qint64(64) << 20;

// The archive's mode, always readable and writable by the owner.
int stagedMode(int archiveMode)
{
    return (archiveMode & 0777) | 0600;
}

} // namespace

Installation::Installation(QIODevice *package, FileMaker &maker, const QString &targetDir,
                           const std::atomic<bool> &cancelled)
    : package(package)
    , maker(maker)
    , plan(maker.plan())
    , targetDir(targetDir)
    , target(QFileInfo(targetDir).canonicalFilePath())
    , cancelled(cancelled)
    , staged(plan.entries().size())
{ }

bool Installation::stage()
{
    if (target.isEmpty() || !QFileInfo(target).isDir())
        return fail(Error::WriteFailed, QStringLiteral("target directory not found"), targetDir);
    targetHandle = NativeDir::open(target);
    if (!targetHandle.isValid())
        return fail(Error::WriteFailed, QStringLiteral("cannot open the target directory"), target);
    if (!checkExistingLinks() || !checkFreeSpace())
        return false;
    if (!removals.judge(targetHandle, maker.removals(), plan)) {
        kind = Error::Refused;
        reason = removals.errorString();
        return false;
    }
    if (!makeStaging() || !stageFiles()) {
        removeStaging();
        return false;
    }
    return true;
}

InstallError Installation::error() const
{
    return kind;
}

QString Installation::errorString() const
{
    return reason;
}

bool Installation::fail(Error why, const QString &what, const QString &subject)
{
    if (kind == Error::NoError) {
        kind = why;
        reason = what + QLatin1String(": ") + subject;
    }
    return false;
}

// The files are moved through folder handles that never follow a link, so a folder of the
// package that is a link in the target could never be filled: refused before anything is written.
bool Installation::checkExistingLinks()
{
    for (const QString &dir : plan.dirs()) {
        if (QFileInfo(target + QLatin1Char('/') + dir).isSymLink())
            return fail(Error::Refused, QStringLiteral("entry leads through a link"), dir);
    }
    return true;
}

bool Installation::checkFreeSpace()
{
    const QStorageInfo storage(target);
    if (storage.isValid() && storage.bytesAvailable() - freeSpaceMargin < plan.declaredTotal())
        return fail(Error::NoSpace, QStringLiteral("not enough free space"),
                    QStringLiteral("%1 bytes needed on %2")
                            .arg(plan.declaredTotal())
                            .arg(storage.rootPath()));
    return true;
}

bool Installation::makeStaging()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100 && stagingName.isEmpty(); ++attempt) {
        QString name = StagingLayout::prefix();
        for (int i = 0; i < 8; ++i)
            name += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
        if (targetHandle.makeFolder(name))
            stagingName = name;
        else if (targetHandle.kindOf(name) == NativeDir::Kind::Missing)
            break;
    }
    const QString cannotCreate = QStringLiteral("cannot create staging folder");
    if (stagingName.isEmpty())
        return fail(Error::WriteFailed, cannotCreate, target);
    journal = std::make_unique<InstallJournal>(targetHandle, stagingName);
    if (!journal->isValid())
        return fail(Error::WriteFailed, QStringLiteral("cannot open staging folder"), stagingName);
    // Every bucket before the first file: made one at a time between the files, they made
    // creating the files three to four times slower on ext4 (measured with 65,535 files).
    const int count = plan.entries().size() + removals.removed().size();
    for (const QString &bucket : StagingLayout::bucketNames(count)) {
        if (!journal->staging().makeFolder(bucket))
            return fail(Error::WriteFailed, cannotCreate, bucket);
    }
    return true;
}

bool Installation::stageFiles()
{
    const QString unreadable = QStringLiteral("package is not a readable zip archive");
    ArchiveReader reader(package);
    if (!reader.open())
        return fail(Error::Refused, unreadable, reader.lastError());
    qint64 total = 0;
    for (int i = -maker.leadingEntries(); i < plan.entries().size(); ++i) {
        archive_entry *header = nullptr;
        if (archive_read_next_header(reader.get(), &header) != ARCHIVE_OK)
            return fail(Error::Refused, unreadable, reader.lastError());
        if (i >= 0 && !plan.entries().at(i).isDir && !stageFile(reader, header, i, total))
            return false;
    }
    return true;
}

// Streams one entry through the maker into its staging file, stopping the moment it passes its
// declared size.
bool Installation::stageFile(ArchiveReader &reader, archive_entry *header, int index, qint64 &total)
{
    const PackagePlan::Entry &entry = plan.entries().at(index);
    if (PackagePlan::withoutTop(entryName(header)) != entry.path)
        return fail(Error::Refused, QStringLiteral("package changed while reading"), entry.path);
    const NativeDir &bucket = journal->bucket(index);
    const QString cannotWrite = QStringLiteral("cannot write");
    NativeFile out;
    if (!bucket.createFile(StagingLayout::stagedName(index), stagedMode(entry.mode), &out))
        return fail(Error::WriteFailed, cannotWrite, bucket.errorString());
    if (!maker.begin(index))
        return fail(Error::Refused, maker.errorString(), entry.path);
    qint64 written = 0;
    const auto write = [&](const char *data, qint64 size) {
        written += size;
        total += size;
        if (written > entry.size || total > plan.declaredTotal())
            return fail(Error::Refused, QStringLiteral("entry larger than declared"), entry.path);
        return out.write(data, size) || fail(Error::WriteFailed, cannotWrite, entry.path);
    };
    for (qint64 offset = 0;;) {
        if (cancelled)
            return fail(Error::Cancelled, QStringLiteral("cancelled"), entry.path);
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t at = 0;
        const int status = archive_read_data_block(reader.get(), &block, &size, &at);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK || at != offset)
            return fail(Error::Refused, QStringLiteral("damaged entry"), entry.path);
        offset += qint64(size);
        if (!maker.add(static_cast<const char *>(block), qint64(size), write))
            return fail(Error::Refused, maker.errorString(), entry.path);
    }
    // libarchive has checked the CRC at the end of the data; the size is checked here.
    if (!maker.end())
        return fail(Error::Refused, maker.errorString(), entry.path);
    if (written != entry.size)
        return fail(Error::Refused, QStringLiteral("damaged entry"), entry.path);
    if (!out.close())
        return fail(Error::WriteFailed, cannotWrite, entry.path);
    // Taken once the file is closed: some systems set the write time only then.
    staged[index] = bucket.idOf(StagingLayout::stagedName(index));
    if (!staged.at(index).isValid())
        return fail(Error::WriteFailed, cannotWrite, entry.path);
    return true;
}

bool Installation::commit()
{
    QStringList newDirs;
    QVector<InstallJournal::File> files;
    files.reserve(plan.entries().size());
    for (const QString &dir : plan.dirs()) {
        if (!QFileInfo(target + QLatin1Char('/') + dir).isDir())
            newDirs.append(dir);
    }
    // The removals first, while the folders they empty hold nothing new.
    int slot = plan.entries().size();
    for (const Removals::File &removal : removals.removed())
        files.append({ slot++, removal.path, FileIdentity(), 0, removal.identity });
    for (int i = 0; i < plan.entries().size(); ++i) {
        const PackagePlan::Entry &entry = plan.entries().at(i);
        if (!entry.isDir)
            files.append({ i, entry.path, staged.at(i), stagedMode(entry.mode) });
    }
    if (!journal->write(newDirs, files)) {
        fail(Error::WriteFailed, journal->errorString(), stagingName);
        removeStaging();
        return false;
    }
    if (journal->carryOut(cancelled) && journal->commit()) {
        removals.keepChanged(journal->keptFiles());
        journal.reset();
        removeEmptiedFolders();
        StagingLayout::remove(targetHandle, stagingName);
        return true;
    }
    fail(Error::WriteFailed, journal->errorString(), target);
    if (journal->rollBack()) {
        removeStaging();
        return false;
    }
    kind = Error::RollBackIncomplete;
    reason += QLatin1String("; could not undo everything (") + journal->errorString()
            + QLatin1String("), replaced files are kept in ") + target + QLatin1Char('/')
            + stagingName;
    return false;
}

// After the install is marked done: a crash before this leaves an empty folder, nothing else.
// What someone put into such a folder meanwhile keeps it.
void Installation::removeEmptiedFolders()
{
    for (const QString &dir : removals.emptiedFolders(plan)) {
        const int slash = dir.lastIndexOf(QLatin1Char('/'));
        const NativeDir parent = targetHandle.openPath(slash < 0 ? QString() : dir.left(slash));
        const QString name = dir.mid(slash + 1);
        if (parent.isValid() && parent.kindOf(name) == NativeDir::Kind::Folder)
            parent.removeFolder(name);
    }
}

void Installation::removeStaging()
{
    journal.reset();
    if (!stagingName.isEmpty())
        StagingLayout::remove(targetHandle, stagingName);
}
