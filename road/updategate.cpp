#include "road/updategate.h"

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
        switch (Elevation::startElevated(QCoreApplication::applicationFilePath(),
                                         QCoreApplication::arguments().mid(1), &why)) {
        case Elevation::Start::Started:
            return Outcome::Restarting;
        case Elevation::Start::Refused:
            return Outcome::Refused;
        case Elevation::Start::Failed:
            break;
        }
        // Nothing was started again: where no one can be asked, the rights are simply missing.
        return Outcome::NeedsAdministrator;
    }
    if (lock.tryLock())
        return Outcome::Open;
    why = lock.errorString();
    if (lock.error() != UpdateLock::Error::HeldElsewhere)
        return Outcome::LockUnusable;
    qWarning("%s", qPrintable(why));
    return Outcome::HeldElsewhere;
}

void UpdateGate::close()
{
    lock.unlock();
}

bool UpdateGate::isHeldElsewhere(QString *holder) const
{
    return UpdateLock::isHeldElsewhere(UpdateLock::folderOf(appDir), holder);
}

QString UpdateGate::errorString() const
{
    return why;
}
