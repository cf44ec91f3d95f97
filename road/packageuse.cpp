#include "road/packageuse.h"

#include "install/installjob.h"
#include "platform/launcher.h"
#include "road/packagefetch.h"
#include "road/settings.h"

#include <QFileInfo>

PackageUse::PackageUse(const QString &appDir, bool startInstalled, const UpdateLock *lock,
                       QObject *parent)
    : QObject(parent)
    , appDir(appDir)
    , startInstalled(startInstalled)
    , lock(lock)
{ }

PackageUse::~PackageUse()
{
    delete job;
}

void PackageUse::start(PackageFetch *fetch)
{
    lastError = PackageInstaller::Error::NoError;
    notStarted = StartProblem::None;
    why.clear();
    path.clear();
    installNotes.clear();
    source = fetch;
    if (fetch->kind() == PackageKind::Full)
        startFull(fetch);
    else
        install(fetch);
}

void PackageUse::startFull(PackageFetch *fetch)
{
    path = fetch->packagePath();
    if (!path.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        refuseStart(StartProblem::NotProgram, QStringLiteral("not an .exe"));
    else if (!fetch->pathUnchanged())
        refuseStart(StartProblem::Changed,
                    QStringLiteral("the file changed after it was downloaded"));
    launch(path, true);
}

void PackageUse::install(PackageFetch *fetch)
{
    if (!fetch->heldUnchanged()) {
        fail(PackageInstaller::Error::Refused,
             QStringLiteral("the file changed after it was downloaded"));
        return;
    }
    if (!job) {
        job = new InstallJob(this);
        connect(job, &InstallJob::finished, this, [this](bool ok, const QString &reason) {
            installNotes = job->notes();
            // Installed: what else the downloads left goes, under the lock still held.
            if (ok)
                source->tidy();
            if (ok && !startInstalled)
                emit finished(Outcome::Installed);
            else if (ok)
                launch(appDir + QLatin1Char('/') + appName + QLatin1String(".exe"), false);
            else
                fail(job->error(), reason);
        });
    }
    job->start(fetch->package(), appDir, fetch->kind(), lock);
}

void PackageUse::launch(const QString &program, bool downloaded)
{
    path = program;
    if (!why.isEmpty())
        return emit finished(Outcome::NotStarted);
    if (!QFileInfo::exists(path))
        refuseStart(StartProblem::Missing, QStringLiteral("no such file"));
    else if (!Launcher::start(
                     path, downloaded ? Launcher::Origin::Downloaded : Launcher::Origin::Installed))
        refuseStart(StartProblem::SystemRefused, QStringLiteral("the system did not start it"));
    // The full installer runs: it is the install, so the same goes for it.
    else if (downloaded)
        source->tidy();
    emit finished(why.isEmpty() ? Outcome::Started : Outcome::NotStarted);
}

void PackageUse::refuseStart(StartProblem problem, const QString &detail)
{
    notStarted = problem;
    why = detail;
}

void PackageUse::fail(PackageInstaller::Error kind, const QString &reason)
{
    lastError = kind;
    why = reason;
    emit finished(Outcome::NotInstalled);
}

bool PackageUse::cancel()
{
    if (!job || !job->isRunning())
        return false;
    job->cancel();
    return true;
}

PackageInstaller::Error PackageUse::error() const
{
    return lastError;
}

QString PackageUse::errorString() const
{
    return why;
}

QString PackageUse::failureLine() const
{
    switch (lastError) {
    case PackageInstaller::Error::RollBackIncomplete:
        return tr("the update could not be undone completely");
    case PackageInstaller::Error::Busy:
        return tr("another update is running");
    case PackageInstaller::Error::NoSpace:
        return tr("not enough disk space");
    case PackageInstaller::Error::WriteFailed:
        return tr("could not write the update");
    case PackageInstaller::Error::NoError:
    case PackageInstaller::Error::Refused:
    case PackageInstaller::Error::Cancelled:
        break;
    }
    return tr("update package rejected");
}

// A delta's result is checked against its declared size and digest before any move, so a
// refusal, the space it claimed or a write it could not make leaves the folder as it was.
bool PackageUse::mayFallBack() const
{
    return lastError == PackageInstaller::Error::Refused
            || lastError == PackageInstaller::Error::NoSpace
            || lastError == PackageInstaller::Error::WriteFailed;
}

QString PackageUse::program() const
{
    return path;
}
