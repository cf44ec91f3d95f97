#include "app/consoleroad.h"

#include "app/console.h"
#include "install/installrecovery.h"
#include "road/progresstext.h"

#include <QCoreApplication>

ConsoleRoad::ConsoleRoad(bool update, bool startInstalled, QObject *parent)
    : QObject(parent)
    , update(update)
    , road(new UpdateRun(QCoreApplication::applicationDirPath(), startInstalled, this))
{
    connect(road, &UpdateRun::line, this, &ConsoleRoad::takeLine);
    connect(road, &UpdateRun::checked, this, &ConsoleRoad::takeCheck);
    connect(road, &UpdateRun::progress, this, &ConsoleRoad::showProgress);
    connect(road, &UpdateRun::downloadStarted, this, [this] { lastPercent = -1; });
    // Consent was given by the command line.
    connect(road, &UpdateRun::question, road, [this] { road->consent(true); });
    connect(road, &UpdateRun::finished, this, &ConsoleRoad::takeEnd);
}

void ConsoleRoad::start(const QString &installed)
{
    version = installed;
    if (update) {
        InstallRecovery recovery(QCoreApplication::applicationDirPath());
        const InstallRecovery::Outcome outcome = recovery.run();
        road->takeRecovery(outcome, recovery.errorString());
    }
    road->check(version);
}

void ConsoleRoad::takeLine(const UpdateRun::Line &line)
{
    if (line.kind == UpdateRun::Line::Kind::Summary)
        summary = line.text;
    else
        Console::err(line.text);
}

void ConsoleRoad::takeCheck(bool read)
{
    if (!read) {
        Console::err(summary);
        return emit done(failed);
    }
    if (!update) {
        tellCheck();
        return emit done(road->offered() ? available : upToDate);
    }
    if (!road->offered()) {
        Console::out(QStringLiteral("up to date: %1 is installed, the latest is %2")
                             .arg(version, road->manifest().latestVersion));
        return emit done(upToDate);
    }
    // Why not (another updater at work, a folder that could not be restored) was told.
    if (!road->mayUpdate())
        return emit done(failed);
    road->update();
}

void ConsoleRoad::tellCheck()
{
    Console::out(QStringLiteral("installed: ") + version);
    Console::out(QStringLiteral("latest: ") + road->manifest().latestVersion);
    if (!road->offered())
        return Console::out(QStringLiteral("package: none"));
    const QString url = road->packageUrl();
    switch (road->packageKind()) {
    case PackageFetch::Kind::Full:
        return Console::out(QStringLiteral("package: full installer ") + url);
    case PackageFetch::Kind::Delta:
        return Console::out(
                QStringLiteral("package: delta from %1 %2").arg(road->manifest().deltaFrom, url));
    case PackageFetch::Kind::Incremental:
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
    Console::err(QStringLiteral("downloading %1 %").arg(percent));
}

void ConsoleRoad::takeEnd(UpdateRun::Outcome outcome)
{
    const QString latest = road->manifest().latestVersion;
    switch (outcome) {
    case UpdateRun::Outcome::Started:
        Console::out(road->packageKind() == PackageFetch::Kind::Full
                             ? QStringLiteral("updating to %1: the full installer was started")
                                       .arg(latest)
                             : QStringLiteral("updated to %1, Morvane started").arg(latest));
        return emit done(upToDate);
    case UpdateRun::Outcome::Installed:
        Console::out(QStringLiteral("updated to %1").arg(latest));
        return emit done(upToDate);
    case UpdateRun::Outcome::Restarting:
        Console::err(QStringLiteral("the update goes on in a copy with administrator rights, "
                                    "whose outcome is not known here"));
        return emit done(failed);
    case UpdateRun::Outcome::Declined:
    case UpdateRun::Outcome::Cancelled:
    case UpdateRun::Outcome::Failed:
        return emit done(failed);
    }
}
