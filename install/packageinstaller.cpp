#include "install/packageinstaller.h"

#include "install/filemaker.h"
#include "install/installation.h"
#include "install/installrecovery.h"
#include "platform/updatelock.h"

#include <QFile>
#include <QFileInfo>

#include <memory>

PackageInstaller::PackageInstaller(const QString &packagePath, const QString &targetDir,
                                   PackageKind kind)
    : packagePath(packagePath)
    , targetDir(targetDir)
    , kind(kind)
{ }

PackageInstaller::PackageInstaller(QFile *package, const QString &targetDir, PackageKind kind)
    : package(package)
    , targetDir(targetDir)
    , kind(kind)
{ }

bool PackageInstaller::install()
{
    reason.clear();
    removalNotes.clear();
    lastError = Error::NoError;
    QFile owned(packagePath);
    QFile *file = package;
    if (!file) {
        if (!owned.open(QIODevice::ReadOnly))
            return fail(Error::Refused, QLatin1String("cannot open package: ") + packagePath);
        file = &owned;
    }
    if (file->isSequential() || !file->isOpen())
        return fail(Error::Refused, QLatin1String("cannot open package: ") + file->fileName());

    UpdateLock own(UpdateLock::folderOf(targetDir));
    const bool held = callerLock && callerLock->isLocked();
    if (!held && !own.tryLock())
        return fail(own.error() == UpdateLock::Error::HeldElsewhere ? Error::Busy
                                                                    : Error::WriteFailed,
                    own.errorString());
    return settleEarlierInstalls(held ? *callerLock : own) && installFrom(file);
}

bool PackageInstaller::installFrom(QFile *file)
{
    const std::unique_ptr<FileMaker> maker
            = FileMaker::forKind(kind, QFileInfo(targetDir).canonicalFilePath());
    if (!maker)
        return fail(Error::Refused,
                    QLatin1String("an installer is started, not unpacked: ") + file->fileName());
    // Every refusal of the plan is the package's fault, whatever its kind.
    if (!maker->read(file, file->fileName()))
        return fail(Error::Refused, maker->errorString());
    Installation installation(file, *maker, targetDir, cancelled);
    if (installation.stage() && installation.commit()) {
        removalNotes = installation.notes();
        return true;
    }
    // Whatever else went wrong on the way, a cancelled install that was undone is cancelled.
    if (cancelled && installation.error() != Error::RollBackIncomplete)
        return fail(Error::Cancelled, QStringLiteral("cancelled"));
    return fail(installation.error(), installation.errorString());
}

// What an earlier install left is settled first; one that cannot be stays untouched, and
// nothing is installed over it.
bool PackageInstaller::settleEarlierInstalls(const UpdateLock &lock)
{
    InstallRecovery recovery(targetDir);
    recovery.setLock(&lock);
    switch (recovery.run()) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::RolledBack:
        return true;
    case InstallRecovery::Outcome::Busy:
        return fail(Error::Busy, recovery.errorString());
    case InstallRecovery::Outcome::LockUnusable:
        return fail(Error::WriteFailed, recovery.errorString());
    case InstallRecovery::Outcome::Unreadable:
    case InstallRecovery::Outcome::Incomplete:
        break;
    }
    return fail(Error::RollBackIncomplete,
                QLatin1String("an earlier update is not settled: ") + recovery.errorString());
}

bool PackageInstaller::fail(Error why, const QString &what)
{
    if (lastError == Error::NoError) {
        lastError = why;
        reason = what;
    }
    return false;
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
