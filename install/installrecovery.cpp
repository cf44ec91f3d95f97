#include "install/installrecovery.h"

#include "install/installjournal.h"
#include "install/staginglayout.h"
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
        if (name.startsWith(StagingLayout::prefix())
            && target.kindOf(name) == NativeDir::Kind::Folder)
            names.append(name);
    }
    return names;
}

// Of several staging folders the one that needs the most care decides the outcome.
int severity(InstallRecovery::Outcome outcome)
{
    switch (outcome) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::Busy:
    case InstallRecovery::Outcome::LockUnusable:
        return 0;
    case InstallRecovery::Outcome::RolledBack:
        return 1;
    case InstallRecovery::Outcome::Unreadable:
        return 2;
    case InstallRecovery::Outcome::Incomplete:
        break;
    }
    return 3;
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
    const bool held = callerLock && callerLock->isLocked();
    if (!target.isValid() || stagingFolders(target).isEmpty()) {
        return !held && UpdateLock::isHeldElsewhere(lockFolder, &detail) ? Outcome::Busy
                                                                         : Outcome::Clean;
    }
    UpdateLock lock(lockFolder);
    if (!held && !lock.tryLock()) {
        detail = lock.errorString();
        qWarning("an interrupted update is not settled now: %s", qPrintable(detail));
        return lock.error() == UpdateLock::Error::HeldElsewhere ? Outcome::Busy
                                                                : Outcome::LockUnusable;
    }

    Outcome outcome = Outcome::Clean;
    // Listed again under the lock: a staging folder seen before it may have been settled since.
    for (const QString &name : stagingFolders(target)) {
        const Outcome settled = settle(target, canonical, name);
        if (severity(settled) > severity(outcome))
            outcome = settled;
    }
    return outcome;
}

InstallRecovery::Outcome InstallRecovery::settle(const NativeDir &target, const QString &canonical,
                                                 const QString &name)
{
    const QString path = canonical + QLatin1Char('/') + name;
    // Its handles go before the staging folder does: where a folder is deleted only once its
    // last handle closes (Windows without POSIX deletion, Wine), they would keep it.
    auto journal = std::make_unique<InstallJournal>(target, name);
    const NativeDir &staging = journal->staging();
    if (!staging.isValid())
        return Outcome::Clean;
    // Marked done, the new tree stands; marked undone, the old one: either way what is left is
    // rubbish, never to be undone (again). Without a plan and without backups no file was moved
    // yet.
    if (StagingLayout::isSettled(staging)
        || (!StagingLayout::hasPlan(staging) && !StagingLayout::hasBackups(staging))) {
        journal.reset();
        StagingLayout::remove(target, name);
        return Outcome::Clean;
    }
    if (!journal->read()) {
        qWarning("an interrupted update could not be undone: its journal is damaged or not "
                 "ours; everything is kept in %s",
                 qPrintable(path));
        detail = path;
        return Outcome::Unreadable;
    }
    if (!journal->rollBack()) {
        qWarning("the update could not be undone completely (%s); the rest is kept in %s",
                 qPrintable(journal->errorString()), qPrintable(path));
        detail = journal->errorString() + QLatin1String("; kept in ") + path;
        return Outcome::Incomplete;
    }
    qWarning("rolled back an interrupted install: %s", qPrintable(path));
    journal.reset();
    StagingLayout::remove(target, name);
    return Outcome::RolledBack;
}

QString InstallRecovery::errorString() const
{
    return detail;
}
