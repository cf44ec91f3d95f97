#include "app/consoleroad.h"

#include "app/console.h"
#include "app/planreport.h"
#include "install/installrecovery.h"
#include "road/progresstext.h"

#include <QCoreApplication>
#include <QFile>

ConsoleRoad::ConsoleRoad(const CommandLine &line, QObject *parent)
    : QObject(parent)
    , mode(line.mode)
    , planDir(line.appDir)
    , road(new UpdateRun(QCoreApplication::applicationDirPath(), !line.noStart, this))
{
    connect(road, &UpdateRun::line, this, &ConsoleRoad::writeLine);
    connect(road, &UpdateRun::checked, this, &ConsoleRoad::checkFinished);
    connect(road, &UpdateRun::progress, this, &ConsoleRoad::showProgress);
    connect(road, &UpdateRun::downloadStarted, this, [this] { lastPercent = -1; });
    connect(road, &UpdateRun::question, this, &ConsoleRoad::answerQuestion);
    connect(road, &UpdateRun::finished, this, &ConsoleRoad::runFinished);
}

void ConsoleRoad::start(const QString &installed)
{
    version = installed;
    if (mode == CommandLine::Mode::Update) {
        InstallRecovery recovery(QCoreApplication::applicationDirPath());
        const InstallRecovery::Outcome outcome = recovery.run();
        road->reportRecovery(outcome, recovery.errorString());
    }
    road->check(version);
}

void ConsoleRoad::writeLine(const UpdateRun::Line &line)
{
    if (line.kind == UpdateRun::Line::Kind::Summary)
        summary = line.text;
    else
        Console::err(line.text);
}

void ConsoleRoad::checkFinished(bool read)
{
    if (!read) {
        Console::err(summary);
        return emit done(failed);
    }
    if (mode == CommandLine::Mode::Check) {
        tellCheck();
        return emit done(road->choice().offered ? available : upToDate);
    }
    if (!road->choice().offered) {
        Console::out(QStringLiteral("up to date: %1 is installed, the latest is %2")
                             .arg(version, road->manifest().latestVersion));
        return emit done(upToDate);
    }
    // Why not (another updater at work, a folder that could not be restored) was told.
    if (!road->mayUpdate())
        return emit done(failed);
    road->update();
}

// Consent was given by the command line; a dry run plans instead and says No.
void ConsoleRoad::answerQuestion()
{
    if (mode == CommandLine::Mode::DryRun)
        plan();
    else
        road->consent(true);
}

void ConsoleRoad::plan()
{
    PlanReport report(planDir);
    QFile *package = road->heldPackage();
    const QString name = road->heldPackagePath();
    if (road->heldKind() == PackageKind::Full) {
        Console::out(QStringLiteral("the full installer would be started: ") + name);
        planned = upToDate;
        return road->consent(false);
    }
    const bool delta = road->heldKind() == PackageKind::Delta;
    switch (delta ? report.delta(package, name) : report.zip(package, name)) {
    case PlanReport::Verdict::Fits:
        for (const QString &change : report.changes())
            Console::out(change);
        planned = upToDate;
        break;
    case PlanReport::Verdict::Misfit:
        Console::out(QStringLiteral("fallback to the zip: ") + report.errorString());
        if (road->fallBack(report.errorString()))
            return;
        break;
    case PlanReport::Verdict::Refused:
        Console::err(report.errorString());
        break;
    }
    road->consent(false);
}

void ConsoleRoad::tellCheck()
{
    Console::out(QStringLiteral("installed: ") + version);
    Console::out(QStringLiteral("latest: ") + road->manifest().latestVersion);
    if (!road->choice().offered)
        return Console::out(QStringLiteral("package: none"));
    const QString url = road->choice().url;
    switch (road->choice().kind) {
    case PackageKind::Full:
        return Console::out(QStringLiteral("package: full installer ") + url);
    case PackageKind::Delta:
        return Console::out(
                QStringLiteral("package: delta from %1 %2").arg(road->manifest().deltaFrom, url));
    case PackageKind::Incremental:
        return Console::out(QStringLiteral("package: zip ") + url);
    }
}

// A line each time the percentage changes; nothing where the server announced no size.
void ConsoleRoad::showProgress(qint64 received, qint64 total)
{
    const int percent = total > 0 ? ProgressText::percent(received, total) : -1;
    if (percent < 0 || percent == lastPercent)
        return;
    lastPercent = percent;
    Console::err(tr("downloading %1 %").arg(percent));
}

void ConsoleRoad::runFinished(UpdateRun::Outcome outcome)
{
    const QString latest = road->manifest().latestVersion;
    switch (outcome) {
    case UpdateRun::Outcome::Started:
        Console::out(road->choice().kind == PackageKind::Full
                             ? QStringLiteral("updating to %1: the full installer was started")
                                       .arg(latest)
                             : QStringLiteral("updated to %1, Morvane started").arg(latest));
        return emit done(upToDate);
    case UpdateRun::Outcome::Installed:
        Console::out(QStringLiteral("updated to %1").arg(latest));
        return emit done(upToDate);
    case UpdateRun::Outcome::Restarting:
        Console::err(tr("the update goes on in a copy with administrator rights, whose outcome is "
                        "not known here"));
        return emit done(failed);
    // A dry run's No, once planned.
    case UpdateRun::Outcome::Declined:
        return emit done(planned);
    case UpdateRun::Outcome::Cancelled:
    case UpdateRun::Outcome::Failed:
        return emit done(failed);
    }
}
