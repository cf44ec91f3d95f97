#include "install/packageinstaller.h"

#include "install/deltaplan.h"
#include "install/deltastaging.h"
#include "install/installation.h"
#include "install/installrecovery.h"
#include "install/packageplan.h"
#include "platform/updatelock.h"

#include <QFile>
#include <QFileInfo>

#include <memory>

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

void PackageInstaller::setFormat(Format packageFormat)
{
    format = packageFormat;
}

bool PackageInstaller::install()
{
    reason.clear();
    lastError = Error::NoError;
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
        return refuse(lock.error() == UpdateLock::Error::HeldElsewhere ? Error::Busy
                                                                       : Error::WriteFailed,
                      lock.errorString());
    if (!settleEarlierInstalls())
        return false;

    // Every refusal of the plan is the package's fault, whatever its kind.
    PackagePlan plan(protectedFolder);
    DeltaPlan deltaPlan(protectedFolder);
    std::unique_ptr<DeltaStaging> staging;
    if (format == Format::Delta) {
        const QString target = QFileInfo(targetDir).canonicalFilePath();
        if (!deltaPlan.read(file, file->fileName(), target))
            return refuse(Error::Refused, deltaPlan.errorString());
        staging = std::make_unique<DeltaStaging>(deltaPlan.index(), target);
    } else if (!plan.read(file, file->fileName())) {
        return refuse(Error::Refused, plan.errorString());
    } else if (isDelta(plan)) {
        return refuse(Error::Refused,
                      QStringLiteral("a delta package is not an incremental package: ")
                              + file->fileName());
    }
    Installation installation(file, staging ? deltaPlan.result() : plan, targetDir, cancelled,
                              staging.get());
    if (installation.stage() && installation.commit())
        return true;
    // Whatever else went wrong on the way, a cancelled install that was undone is cancelled.
    if (cancelled && installation.error() != Error::RollBackIncomplete)
        return refuse(Error::Cancelled, QStringLiteral("cancelled"));
    return refuse(installation.error(), installation.errorString());
}

// What an earlier install left is settled first; one that cannot be stays untouched, and
// nothing is installed over it.
bool PackageInstaller::settleEarlierInstalls()
{
    InstallRecovery recovery(targetDir);
    switch (recovery.run()) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::RolledBack:
        return true;
    case InstallRecovery::Outcome::Busy:
        return refuse(Error::Busy, recovery.errorString());
    case InstallRecovery::Outcome::LockUnusable:
        return refuse(Error::WriteFailed, recovery.errorString());
    case InstallRecovery::Outcome::Unreadable:
    case InstallRecovery::Outcome::Incomplete:
        break;
    }
    return refuse(Error::RollBackIncomplete,
                  QLatin1String("an earlier update is not settled: ") + recovery.errorString());
}

// Unpacked as a zip, a delta would leave its index and raw patch frames where the program's
// files were.
bool PackageInstaller::isDelta(const PackagePlan &plan)
{
    const QString first = plan.entries().value(0).path;
    return first.compare(QLatin1String("delta.json"), Qt::CaseInsensitive) == 0;
}

bool PackageInstaller::refuse(Error kind, const QString &why)
{
    lastError = kind;
    reason = why;
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
