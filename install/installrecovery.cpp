#include "install/installrecovery.h"

#include "install/installjournal.h"
#include "platform/nativedir.h"
#include "platform/updatelock.h"

#include <QFileInfo>

#include <memory>

namespace {

QStringList stagingFolders(const NativeDir &target)
{
    QStringList names;
    for (const QString &name : target.entryNames()) {
        // A link or a file under our prefix is not ours: it is neither followed nor removed.
        if (name.startsWith(InstallJournal::stagingPrefix())
            && target.kindOf(name) == NativeDir::Kind::Folder)
            names.append(name);
    }
    return names;
}

} // namespace

InstallRecovery::InstallRecovery(const QString &targetDir)
    : targetDir(targetDir)
{ }

InstallRecovery::Outcome InstallRecovery::run()
{
    detail.clear();
    const QString canonical = QFileInfo(targetDir).canonicalFilePath();
    NativeDir target = NativeDir::open(canonical);
    const QString lockFolder = UpdateLock::folderOf(canonical);
    // Nothing to settle: the folder stays as it is, not even the lock's folder is made.
    if (!target.isValid() || stagingFolders(target).isEmpty()) {
        if (UpdateLock::isHeldElsewhere(lockFolder)) {
            detail = QStringLiteral("another updater holds ") + lockFolder;
            return Outcome::Busy;
        }
        return Outcome::Clean;
    }
    UpdateLock lock(lockFolder);
    if (!lock.tryLock()) {
        detail = lock.errorString();
        return Outcome::Busy;
    }

    Outcome outcome = Outcome::Clean;
    // Listed again under the lock: a staging folder seen before it may have been settled since.
    for (const QString &name : stagingFolders(target)) {
        const QString path = canonical + QLatin1Char('/') + name;
        // Its handles go before the staging folder does: where a folder is deleted only once its
        // last handle closes (Windows without POSIX deletion, Wine), they would keep it.
        auto journal = std::make_unique<InstallJournal>(target, name);
        const NativeDir &staging = journal->staging();
        if (!staging.isValid())
            continue;
        // Marked done: the new tree stands, the backups are rubbish. Without a plan and without
        // backups no file was moved yet.
        const bool finished = staging.kindOf(InstallJournal::doneName()) == NativeDir::Kind::File;
        if (finished
            || (!InstallJournal::hasPlan(staging) && !InstallJournal::hasBackups(staging))) {
            journal.reset();
            if (finished)
                InstallJournal::removeFinished(target, name);
            else
                target.removeTree(name);
            continue;
        }
        if (!journal->read()) {
            qWarning("an interrupted update could not be undone: its journal is damaged or not "
                     "ours; everything is kept in %s",
                     qPrintable(path));
            detail = path;
            if (outcome != Outcome::Incomplete)
                outcome = Outcome::Unreadable;
            continue;
        }
        if (!journal->rollBack()) {
            qWarning("the update could not be undone completely (%s); the rest is kept in %s",
                     qPrintable(journal->errorString()), qPrintable(path));
            detail = journal->errorString() + QLatin1String("; kept in ") + path;
            outcome = Outcome::Incomplete;
            continue;
        }
        qWarning("rolled back an interrupted install: %s", qPrintable(path));
        journal.reset();
        target.removeTree(name);
        if (outcome == Outcome::Clean)
            outcome = Outcome::RolledBack;
    }
    return outcome;
}

QString InstallRecovery::errorString() const
{
    return detail;
}
