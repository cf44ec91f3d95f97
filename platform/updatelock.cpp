#include "platform/updatelock.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QMutex>

#include <memory>

namespace {

// This process's holdings, by lock file: a second QLockFile of the same file in one process
// would see its own process alive and refuse.
QMutex registryMutex;
QHash<QString, std::weak_ptr<QLockFile>> &registry()
{
    static QHash<QString, std::weak_ptr<QLockFile>> holdings;
    return holdings;
}

const QString lockFileName = QStringLiteral("updater.lock");

// By the folder's canonical path, so that every name of one folder finds one holding; empty
// while the folder does not exist.
QString lockPathIn(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QString() : canonical + QLatin1Char('/') + lockFileName;
}

} // namespace

UpdateLock::UpdateLock(const QString &folder)
    : folder(folder)
{ }

UpdateLock::~UpdateLock()
{
    unlock();
}

bool UpdateLock::tryLock()
{
    if (holding)
        return true;
    QMutexLocker locker(&registryMutex);
    if (!QDir().mkpath(folder) || (path = lockPathIn(folder)).isEmpty()) {
        lastError = Error::Unusable;
        detail = QStringLiteral("cannot create ") + folder;
        return false;
    }
    if (auto shared = registry().value(path).lock()) {
        holding = std::move(shared);
        lastError = Error::NoError;
        detail.clear();
        return true;
    }
    auto lock = std::make_shared<QLockFile>(path);
    // Only a dead holder makes a lock stale: an install may run for many minutes.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        lastError = lock->error() == QLockFile::LockFailedError ? Error::HeldElsewhere
                                                                : Error::Unusable;
        qint64 pid = 0;
        QString host;
        QString program;
        detail = lastError == Error::HeldElsewhere && lock->getLockInfo(&pid, &host, &program)
                ? QStringLiteral("%1 is held by %2 (process %3)").arg(path, program).arg(pid)
                : QStringLiteral("cannot lock ") + path;
        return false;
    }
    registry().insert(path, lock);
    holding = std::move(lock);
    lastError = Error::NoError;
    detail.clear();
    return true;
}

void UpdateLock::unlock()
{
    if (!holding)
        return;
    QMutexLocker locker(&registryMutex);
    // The last holder's QLockFile unlocks as it goes.
    if (holding.use_count() == 1)
        registry().remove(path);
    holding.reset();
}

bool UpdateLock::isLocked() const
{
    return holding != nullptr;
}

UpdateLock::Error UpdateLock::error() const
{
    return lastError;
}

QString UpdateLock::errorString() const
{
    return detail;
}

bool UpdateLock::isHeldElsewhere(const QString &folder)
{
    const QString path = lockPathIn(folder);
    if (path.isEmpty())
        return false;
    {
        QMutexLocker locker(&registryMutex);
        if (!registry().value(path).expired())
            return false;
    }
    if (!QFileInfo::exists(path))
        return false;
    UpdateLock probe(folder);
    return !probe.tryLock() && probe.error() == Error::HeldElsewhere;
}

bool UpdateLock::isLockFileName(const QString &name)
{
    // QLockFile keeps a ".rmlock" beside the lock while it removes a stale one.
    return name.startsWith(lockFileName, Qt::CaseInsensitive);
}

QString UpdateLock::folderName()
{
    return QStringLiteral("updater-downloads");
}

QString UpdateLock::folderOf(const QString &appDir)
{
    return appDir + QLatin1Char('/') + folderName();
}
