#include "road/updaterun.h"

#include "road/failuretext.h"
#include "road/settings.h"

UpdateRun::UpdateRun(const QString &appDir, bool startInstalled, QObject *parent)
    : QObject(parent)
    , appDir(appDir)
    , startInstalled(startInstalled)
    , localVersion(currentVersion)
    , trust(publicKey)
    , gate(appDir)
{ }

UpdateRun::~UpdateRun()
{
    // An install still running reads the held package: it is ended first. A download still
    // running keeps its partial file while the lock is held.
    delete use;
    delete fetch;
}

bool UpdateRun::mayUpdate() const
{
    // While a package is fetched, a press would change nothing: update looks it.
    return current == Stage::Idle && chosen.offered && !heldElsewhere && blockedBecause.isEmpty();
}

bool UpdateRun::reportRecovery(InstallRecovery::Outcome outcome, const QString &why)
{
    recoverAtPress = outcome == InstallRecovery::Outcome::Busy
            || outcome == InstallRecovery::Outcome::LockUnusable;
    switch (outcome) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::RolledBack:
        return true;
    // The lock's own words: "another update is running", with its holder where it names one.
    case InstallRecovery::Outcome::Busy:
        say(Line::Kind::Failure, why);
        return false;
    // Recovery has warned why; update() tries again, with the rights it needs.
    case InstallRecovery::Outcome::LockUnusable:
        say(Line::Kind::Failure,
            tr("an interrupted update cannot be undone: the application folder cannot be "
               "changed now"));
        return false;
    // Recovery has warned with the folder it kept.
    case InstallRecovery::Outcome::Unreadable:
    case InstallRecovery::Outcome::Incomplete:
        blockUpdate(outcome == InstallRecovery::Outcome::Unreadable
                            ? tr("an interrupted update could not be undone")
                            : tr("the update could not be undone completely"));
        break;
    }
    return false;
}

void UpdateRun::blockUpdate(const QString &why)
{
    blockedBecause = why;
    say(Line::Kind::Failure, why);
    setStage(current);
}

void UpdateRun::check(const QString &version)
{
    localVersion = version.isEmpty() ? QStringLiteral("0.0") : version;
    if (!checker) {
        checker = new UpdateCheck(trust, this);
        connect(checker, &UpdateCheck::finished, this, &UpdateRun::checkFinished);
    }
    checker->start(manifestUrl, platformKey);
}

// Whatever fails leaves the stored values, needFull and the offer as the last good check left
// them.
void UpdateRun::checkFinished(const UpdateCheck::Result &result)
{
    switch (result.outcome) {
    // The failure's line and why in one summary, which starts the log anew.
    case UpdateCheck::Outcome::TransferFailed:
    case UpdateCheck::Outcome::Unusable:
        qWarning("check error: %s", qPrintable(result.detail));
        say(Line::Kind::Summary, tr("check error\n%1").arg(result.reason));
        return emit checked(false);
    case UpdateCheck::Outcome::SignatureInvalid:
        qWarning("manifest signature invalid: %s", qPrintable(result.detail));
        say(Line::Kind::Summary, tr("manifest signature invalid\n%1").arg(result.reason));
        return emit checked(false);
    case UpdateCheck::Outcome::NotJson:
        say(Line::Kind::Summary, tr("reply doc is null\n%1").arg(result.reason));
        return emit checked(false);
    case UpdateCheck::Outcome::Expired:
        qWarning("manifest refused: %s", qPrintable(result.detail));
        say(Line::Kind::Summary, result.detail);
        return emit checked(false);
    case UpdateCheck::Outcome::Read:
        break;
    }
    read = result.manifest;
    chosen = PackageChoice(read, localVersion);
    heldElsewhere = false;
    summarize();
    setStage(current);
    emit checked(chosen.hasRelease);
}

void UpdateRun::summarize()
{
    say(Line::Kind::Summary, chosen.summary);
    if (!chosen.offered)
        return;
    // Offered, but not while another updater is at work here, nor over what could not be
    // undone; the log says which.
    QString holder;
    heldElsewhere = gate.isHeldElsewhere(&holder);
    if (!blockedBecause.isEmpty())
        say(Line::Kind::Failure, blockedBecause);
    else if (heldElsewhere)
        say(Line::Kind::Failure, holder);
}

void UpdateRun::update()
{
    // Past the download, nothing may fetch over the package on disk.
    if (current != Stage::Idle && current != Stage::Downloading)
        return;
    createFetch();
    // A press while a download runs changes nothing the summary measures.
    if (current == Stage::Idle)
        emit downloadStarted();
    // A check during the download may change the choice; the package is used as what it was
    // fetched as.
    const PackageChoice picked = chosen;
    if (picked.needFull)
        say(Line::Kind::Note, tr("need full"));
    if (current == Stage::Downloading)
        return;
    if (picked.url.isEmpty()) {
        say(Line::Kind::Failure, tr("download failed"));
        say(Line::Kind::Note, FailureText::noPackageAddress());
        return emit finished(Outcome::Failed);
    }
    if (!openGate())
        return;
    setStage(Stage::Downloading);
    if (picked.kind == PackageKind::Delta)
        fetch->startDelta(picked.url, read.deltaFrom, read.downloadUrl);
    else
        fetch->start(picked.url, picked.kind);
}

void UpdateRun::createFetch()
{
    if (fetch)
        return;
    fetch = new PackageFetch(trust, gate.heldLock(), this);
    connect(fetch, &PackageFetch::finished, this, &UpdateRun::fetchFinished);
    connect(fetch, &PackageFetch::rechecked, this, &UpdateRun::usePackage);
    connect(fetch, &PackageFetch::note, this,
            [this](const QString &text) { say(Line::Kind::Note, text); });
    connect(fetch, &PackageFetch::progress, this, &UpdateRun::progress);
    connect(fetch, &PackageFetch::downloadEnded, this, &UpdateRun::downloadEnded);
    connect(fetch, &PackageFetch::fellBack, this, &UpdateRun::downloadStarted);
    use = new PackageUse(appDir, startInstalled, gate.heldLock(), this);
    connect(use, &PackageUse::finished, this, &UpdateRun::useFinished);
}

bool UpdateRun::openGate()
{
    switch (gate.open()) {
    case UpdateGate::Outcome::Open:
        break;
    case UpdateGate::Outcome::Restarting:
        say(Line::Kind::Note, tr("starting again with administrator rights"));
        emit finished(Outcome::Restarting);
        return false;
    // Nothing started again: the elevated copy was refused, or no one can be asked here.
    case UpdateGate::Outcome::Refused:
    case UpdateGate::Outcome::NeedsAdministrator:
        qWarning("no administrator rights: %s", qPrintable(gate.errorString()));
        say(Line::Kind::Failure, tr("administrator rights are needed to update"));
        emit finished(Outcome::Failed);
        return false;
    case UpdateGate::Outcome::HeldElsewhere:
        heldElsewhere = true;
        setStage(current);
        say(Line::Kind::Failure, gate.errorString());
        emit finished(Outcome::Failed);
        return false;
    case UpdateGate::Outcome::LockUnusable:
        qWarning("update lock unusable: %s", qPrintable(gate.errorString()));
        say(Line::Kind::Note, gate.errorString());
        say(Line::Kind::Failure, tr("download failed"));
        emit finished(Outcome::Failed);
        return false;
    }
    // What start-up could not settle while another updater was at work is settled first, under
    // the lock.
    if (recoverAtPress) {
        InstallRecovery recovery(appDir);
        recovery.setLock(gate.heldLock());
        const InstallRecovery::Outcome outcome = recovery.run();
        if (!reportRecovery(outcome, recovery.errorString())) {
            gate.close();
            emit finished(Outcome::Failed);
            return false;
        }
    }
    return true;
}

// A package that did not arrive whole, or that its publisher did not sign, is never offered for
// installation.
void UpdateRun::fetchFinished(PackageFetch::Outcome outcome)
{
    if (outcome != PackageFetch::Outcome::Held) {
        gate.close();
        setStage(Stage::Idle);
    }
    switch (outcome) {
    case PackageFetch::Outcome::Held:
        say(Line::Kind::Note, tr("download finished"));
        // Asked unless Yes was said already, to a delta that did not fit, whose whole package
        // this is.
        if (current != Stage::Installing && current != Stage::Closing) {
            setStage(Stage::Asking);
            emit question();
        } else {
            proceed();
        }
        return;
    case PackageFetch::Outcome::DownloadFailed:
        qWarning("download failed: %s", qPrintable(fetch->errorString()));
        say(Line::Kind::Failure, tr("download failed"));
        break;
    case PackageFetch::Outcome::SignatureInvalid:
        qWarning("package signature invalid: %s", qPrintable(fetch->errorString()));
        say(Line::Kind::Note, tr("package signature invalid"));
        say(Line::Kind::Failure, tr("download failed"));
        break;
    case PackageFetch::Outcome::Rejected:
        qWarning("update package rejected: %s", qPrintable(fetch->errorString()));
        say(Line::Kind::Failure, tr("update package rejected"));
        break;
    }
    say(Line::Kind::Note, fetch->reason());
    emit finished(Outcome::Failed);
}

void UpdateRun::consent(bool yes)
{
    if (current != Stage::Asking)
        return;
    if (!yes) {
        fetch->decline();
        gate.close();
        setStage(Stage::Idle);
        emit finished(Outcome::Declined);
        return;
    }
    setStage(Stage::Installing);
    proceed();
}

// After Yes: in a signed build the held package is hashed once more before it is used.
void UpdateRun::proceed()
{
    if (trust.isSigned() && current != Stage::Closing)
        fetch->recheck();
    else
        usePackage(true);
}

bool UpdateRun::fallBack(const QString &why)
{
    return current == Stage::Asking && fetch->fallBack(why);
}

bool UpdateRun::leave()
{
    if (current == Stage::Closing)
        return false;
    if (current == Stage::Installing && use->cancel()) {
        say(Line::Kind::Note, tr("cancelling the update..."));
        setStage(Stage::Closing);
        return false;
    }
    // A package still being hashed at Yes is not used once the road is left.
    if (current == Stage::Installing)
        setStage(Stage::Closing);
    return true;
}

// In a signed build, after the held package was hashed once more.
void UpdateRun::usePackage(bool rechecked)
{
    if (current == Stage::Closing) {
        fetch->release();
        gate.close();
    } else if (!rechecked) {
        if (!fetch->fallBack(fetch->errorString(), true))
            fetchFinished(PackageFetch::Outcome::SignatureInvalid);
    } else {
        use->start(fetch);
    }
}

void UpdateRun::useFinished(PackageUse::Outcome outcome)
{
    if (outcome == PackageUse::Outcome::NotInstalled && current == Stage::Installing
        && use->mayFallBack() && fetch->fallBack(use->errorString()))
        return;
    fetch->release();
    gate.close();
    const bool closing = current == Stage::Closing;
    setStage(Stage::Idle);
    for (const QString &note : use->notes())
        say(Line::Kind::Note, note);
    switch (outcome) {
    case PackageUse::Outcome::Started:
        return emit finished(Outcome::Started);
    case PackageUse::Outcome::Installed:
        return emit finished(Outcome::Installed);
    case PackageUse::Outcome::NotStarted:
        qWarning("update could not be started: %s: %s", qPrintable(use->program()),
                 qPrintable(use->errorString()));
        say(Line::Kind::Failure, tr("update could not be started: %1").arg(use->program()));
        say(Line::Kind::Note, FailureText::notStarted(use->startProblem()));
        return emit finished(Outcome::Failed);
    case PackageUse::Outcome::NotInstalled:
        // Left during the install, which is undone as far as it could be.
        if (closing)
            return emit finished(Outcome::Cancelled);
        showInstallFailure();
        return emit finished(Outcome::Failed);
    }
}

// The warning keeps the detail; the log says what it means to the user.
void UpdateRun::showInstallFailure()
{
    const QString reason = use->errorString();
    qWarning("update not installed: %s", qPrintable(reason));
    if (use->error() == PackageInstaller::Error::RollBackIncomplete)
        return blockUpdate(tr("the update could not be undone completely: %1").arg(reason));
    if (use->error() == PackageInstaller::Error::Busy) {
        heldElsewhere = true;
        setStage(current);
    }
    say(Line::Kind::Failure, use->failureLine());
    say(Line::Kind::Note, FailureText::rejected(use->error()));
}
