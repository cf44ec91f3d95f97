#include "platform/updatelock.h"

#include "platform/lockfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QSysInfo>

#include <memory>

namespace {

// This process's holdings, by lock file: a second lock of the same file in one process would
// find it held by its own process and refuse.
QMutex registryMutex;
QHash<QString, std::weak_ptr<LockFile>> &registry()
{
    static QHash<QString, std::weak_ptr<LockFile>> holdings;
    return holdings;
}

const QString lockFileName = QStringLiteral("updater.lock");

// The folder's parent by its canonical path, so that every name of one folder finds one
// holding; the folder itself is opened without following a link. Empty while the parent does
// not exist.
QString parentOf(const QString &folder)
{
    return QFileInfo(QFileInfo(folder).absolutePath()).canonicalFilePath();
}

QString lockPathIn(const QString &parent, const QString &folder)
{
    return parent + QLatin1Char('/') + QFileInfo(folder).fileName() + QLatin1Char('/')
            + lockFileName;
}

// What a holder writes: its process id and its host, a line each.
QByteArray ownContent()
{
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n'
            + QSysInfo::machineHostName().toUtf8() + '\n';
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
    // The parent is trusted as a whole and made when missing; only the folder is not followed.
    QDir().mkpath(QFileInfo(folder).absolutePath());
    const QString parent = parentOf(folder);
    if (parent.isEmpty()) {
        lastError = Error::Unusable;
        detail = tr("the download folder %1 cannot be used: its parent is missing").arg(folder);
        return false;
    }
    path = lockPathIn(parent, folder);
    if (auto shared = registry().value(path).lock()) {
        holding = std::move(shared);
        lastError = Error::NoError;
        detail.clear();
        return true;
    }
    auto lock = std::make_shared<LockFile>();
    switch (lock->acquire(parent, QFileInfo(folder).fileName(), lockFileName, ownContent())) {
    case LockFile::Result::Taken:
        break;
    case LockFile::Result::Held:
        lastError = Error::HeldElsewhere;
        detail = heldText(lock->holder());
        return false;
    case LockFile::Result::Unusable:
        lastError = Error::Unusable;
        detail = lock->errorString();
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
    // The last holder's LockFile lets go as it goes.
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

bool UpdateLock::isHeldElsewhere(const QString &folder, QString *holder)
{
    const QString parent = parentOf(folder);
    if (parent.isEmpty())
        return false;
    {
        QMutexLocker locker(&registryMutex);
        if (!registry().value(lockPathIn(parent, folder)).expired())
            return false;
    }
    QByteArray content;
    if (!LockFile::isHeld(parent, QFileInfo(folder).fileName(), lockFileName, &content))
        return false;
    if (holder)
        *holder = heldText(content);
    return true;
}

// The holder as its file names it. The file is anyone's to write: only a plain number and a
// plain host name are shown.
QString UpdateLock::heldText(const QByteArray &holder)
{
    static const QRegularExpression written(
            QStringLiteral("^([1-9][0-9]{0,9})\n([A-Za-z0-9._-]{1,253})\n$"));
    const QRegularExpressionMatch match = written.match(QString::fromLatin1(holder));
    if (!match.hasMatch())
        return tr("another update is running");
    const QString host = match.captured(2);
    return host == QSysInfo::machineHostName()
            ? tr("another update is running (pid %1 on this computer)").arg(match.captured(1))
            : tr("another update is running (pid %1 on %2)").arg(match.captured(1), host);
}

bool UpdateLock::isLockFileName(const QString &name)
{
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
