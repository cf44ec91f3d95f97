#ifndef INSTALLRECOVERY_H
#define INSTALLRECOVERY_H

#include <QString>

class NativeDir;
class UpdateLock;

// Finds what earlier installs left in an application folder and settles it, under the update
// lock: an install cut short is rolled back to the old tree, a finished one loses its staging
// folder, one that never began moving files is cleared. Repeatable any number of times, also
// after a crash in the middle of it. What it cannot prove safe to undo it keeps where it is.
class InstallRecovery
{
public:
    enum class Outcome {
        Clean, // nothing was half done (leftovers of finished or unstarted installs are gone)
        RolledBack, // an interrupted install was undone: the old tree is back
        Busy, // another updater holds the lock: nothing was looked at
        LockUnusable, // the lock cannot be taken here (a folder we may not write): nothing done
        Unreadable, // a journal that is damaged or not ours: everything kept, nothing undone
        Incomplete, // a roll-back that could not finish: the backups are kept for the next try
    };

    explicit InstallRecovery(const QString &targetDir);

    // The target's update lock, which the caller holds over run(): then none is taken here.
    void setLock(const UpdateLock *held) { callerLock = held; }
    Outcome run();
    // The staging folder kept, or what could not be undone; empty after Clean.
    QString errorString() const;

private:
    // One staging folder of target: Clean, RolledBack, Unreadable or Incomplete.
    Outcome settle(const NativeDir &target, const QString &canonical, const QString &name);

    QString targetDir;
    const UpdateLock *callerLock = nullptr;
    QString detail;
};

#endif // INSTALLRECOVERY_H
