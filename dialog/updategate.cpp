#include "dialog/updategate.h"

#include "platform/elevation.h"

#include <QCoreApplication>

UpdateGate::UpdateGate(const QString &appDir)
    : appDir(appDir)
    , lock(UpdateLock::folderOf(appDir))
{ }

UpdateGate::Outcome UpdateGate::open()
{
    why.clear();
    if (!Elevation::canWriteTo(appDir)) {
        if (Elevation::isElevated()) {
            why = QStringLiteral("cannot write to %1, even as an administrator").arg(appDir);
            return Outcome::NeedsAdministrator;
        }
        const Elevation::Start start
                = Elevation::startElevated(QCoreApplication::applicationFilePath(),
                                           QCoreApplication::arguments().mid(1), &why);
        return start == Elevation::Start::Started ? Outcome::Restarting : Outcome::Refused;
    }
    if (lock.tryLock())
        return Outcome::Open;
    if (lock.error() == UpdateLock::Error::HeldElsewhere)
        return Outcome::HeldElsewhere;
    why = lock.errorString();
    return Outcome::LockUnusable;
}

void UpdateGate::close()
{
    lock.unlock();
}

bool UpdateGate::isHeldElsewhere() const
{
    return UpdateLock::isHeldElsewhere(UpdateLock::folderOf(appDir));
}

QString UpdateGate::errorString() const
{
    return why;
}
