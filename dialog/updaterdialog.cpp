#include "dialog/updaterdialog.h"
#include "ui_updaterdialog.h"

#include "dialog/manifest.h"
#include "dialog/progresstext.h"
#include "dialog/versionrule.h"
#include "download/downloader.h"
#include "verify/releasetrust.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QNetworkReply>

UpdaterDialog::UpdaterDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::UpdaterDialog)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Updater"));
    setStage(Stage::Idle);
    localVersion = currentVersion;
    ui->versionInput->setText(localVersion);
    // The log only shows messages; it takes no input.
    ui->show->setEnabled(false);
    ui->label_2->setText(QString());
    ui->label_3->setText(QString());
}

UpdaterDialog::~UpdaterDialog()
{
    // An install still running reads the held package: it is ended first.
    delete use;
    delete ui;
}

void UpdaterDialog::setStage(Stage next)
{
    stage = next;
    const bool pressable = stage == Stage::Idle || stage == Stage::Downloading;
    ui->btn_update->setEnabled(pressable && offered && !heldElsewhere && blockedBecause.isEmpty());
}

bool UpdaterDialog::takeRecovery(InstallRecovery::Outcome outcome, const QString &why)
{
    recoverAtPress = outcome == InstallRecovery::Outcome::Busy
            || outcome == InstallRecovery::Outcome::LockUnusable;
    switch (outcome) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::RolledBack:
        return true;
    // The lock's own words: "another update is running", with its holder where it names one.
    case InstallRecovery::Outcome::Busy:
        ui->show->appendPlainText(why);
        return false;
    // Recovery has warned why; the press of update tries again, with the rights it needs.
    case InstallRecovery::Outcome::LockUnusable:
        ui->show->appendPlainText(
                QStringLiteral("an interrupted update cannot be undone: the application folder "
                               "cannot be changed now"));
        return false;
    // Recovery has warned with the folder it kept.
    case InstallRecovery::Outcome::Unreadable:
    case InstallRecovery::Outcome::Incomplete:
        blockUpdate(outcome == InstallRecovery::Outcome::Unreadable
                            ? QStringLiteral("an interrupted update could not be undone")
                            : QStringLiteral("the update could not be undone completely"));
        break;
    }
    return false;
}

void UpdaterDialog::blockUpdate(const QString &why)
{
    blockedBecause = why;
    ui->show->appendPlainText(why);
    setStage(stage);
}

void UpdaterDialog::on_btn_check_clicked()
{
    localVersion = ui->versionInput->text();
    if (localVersion.isEmpty())
        localVersion = QStringLiteral("0.0");
    if (!check) {
        check = new UpdateCheck(trust, this);
        connect(check, &UpdateCheck::finished, this, &UpdaterDialog::takeCheck);
    }
    check->start(manifestUrl, platformKey);
}

// The result of one press. Whatever fails leaves the stored values, needFull and the update
// button as the last good check left them.
void UpdaterDialog::takeCheck(const UpdateCheck::Result &result)
{
    switch (result.outcome) {
    case UpdateCheck::Outcome::TransferFailed:
    case UpdateCheck::Outcome::Unusable:
        qWarning("check error: %s", qPrintable(result.detail));
        showInfo(QStringLiteral("check error"));
        return;
    case UpdateCheck::Outcome::SignatureInvalid:
        qWarning("manifest signature invalid: %s", qPrintable(result.detail));
        showInfo(QStringLiteral("manifest signature invalid"));
        return;
    case UpdateCheck::Outcome::NotJson:
        showInfo(QStringLiteral("reply doc is null"));
        return;
    case UpdateCheck::Outcome::Expired:
        qWarning("manifest refused: %s", qPrintable(result.detail));
        showInfo(result.detail);
        return;
    case UpdateCheck::Outcome::Read:
        break;
    }
    manifest = result.manifest;

    // Only a strictly newer release is offered, also because a signed manifest can be replayed.
    if (!VersionRule::isUsable(manifest.latestVersion))
        qWarning("latest version not usable: \"%s\"", qPrintable(manifest.latestVersion.left(40)));
    offered = VersionRule::offersUpdate(localVersion, manifest.latestVersion, &needFull);
    heldElsewhere = false;
    if (offered) {
        showInfo(tr("current version is : v") + localVersion + tr("\nlatest version : v")
                 + manifest.latestVersion + tr("\nmodify time : ") + manifest.modifyTime
                 + tr("\nchangelog: ") + manifest.changelog
                 + tr("\nclick update button to update"));
        // Offered, but not while another updater is at work here, nor over what could not be
        // undone; the log says which.
        QString holder;
        heldElsewhere = gate.isHeldElsewhere(&holder);
        if (!blockedBecause.isEmpty())
            ui->show->appendPlainText(blockedBecause);
        else if (heldElsewhere)
            ui->show->appendPlainText(holder);
    } else {
        showInfo(tr("current software is up-to-date") + tr("\nversion: v") + localVersion
                 + tr("\nclick cancel button to quit"));
    }
    setStage(stage);
}

void UpdaterDialog::on_btn_update_clicked()
{
    // Past the download, nothing may fetch over the package on disk.
    if (stage != Stage::Idle && stage != Stage::Downloading)
        return;
    createDownloader();
    // A press while a download runs changes nothing the summary measures.
    if (stage == Stage::Idle)
        meter.start();
    // The delta is only worth trying from the very release it patches.
    const bool delta
            = !needFull && !manifest.deltaUrl.isEmpty() && localVersion == manifest.deltaFrom;
    const QString url = needFull ? manifest.fullUrl
            : delta              ? manifest.deltaUrl
                                 : manifest.downloadUrl;
    if (needFull)
        ui->show->appendPlainText(QStringLiteral("need full"));
    if (stage == Stage::Downloading)
        return;
    if (url.isEmpty()) {
        ui->show->appendPlainText(QStringLiteral("no package address in the manifest"));
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return;
    }
    if (!openGate())
        return;
    setStage(Stage::Downloading);
    // A check during the download may change needFull; the package is used as what it was
    // fetched as.
    if (delta)
        fetch->startDelta(url, manifest.deltaFrom, manifest.downloadUrl);
    else
        fetch->start(url, needFull ? PackageKind::Full : PackageKind::Incremental);
}

void UpdaterDialog::createDownloader()
{
    if (downloader)
        return;
    downloader = new Downloader(this);
    // Our own aborts (time-outs, caps, a full disk, cancel) say why in the downloader's reason,
    // logged at the end; their key name would only mislead.
    connect(downloader, &Downloader::onError, this, [this](QNetworkReply::NetworkError code) {
        if (code != QNetworkReply::OperationCanceledError)
            ui->show->appendPlainText(ProgressText::errorKey(code));
    });
    connect(downloader, &Downloader::doFinished, this, [this] {
        ui->label_3->setText(meter.summary());
        fetch->takeDownload();
    });
    connect(downloader, &Downloader::doProgress, this, &UpdaterDialog::showProgress);
    connect(downloader, &Downloader::doRetry, this,
            [this](Downloader::Retry why, qint64 at, int waitMs, int n, int of) {
                ui->show->appendPlainText(ProgressText::retryLine(why, at, waitMs, n, of));
            });
    fetch = new PackageFetch(downloader, trust, this);
    connect(fetch, &PackageFetch::finished, this, &UpdaterDialog::takePackage);
    connect(fetch, &PackageFetch::rechecked, this, &UpdaterDialog::usePackage);
    connect(fetch, &PackageFetch::note, ui->show, &QPlainTextEdit::appendPlainText);
    connect(fetch, &PackageFetch::fellBack, this, [this] { meter.start(); });
    use = new PackageUse(QCoreApplication::applicationDirPath(), this);
    connect(use, &PackageUse::finished, this, &UpdaterDialog::takeUse);
}

bool UpdaterDialog::openGate()
{
    switch (gate.open()) {
    case UpdateGate::Outcome::Open:
        break;
    case UpdateGate::Outcome::Restarting:
        ui->show->appendPlainText(QStringLiteral("starting again with administrator rights"));
        QCoreApplication::quit();
        return false;
    // Nothing started again: the elevated copy was refused, or no one can be asked here.
    case UpdateGate::Outcome::Refused:
    case UpdateGate::Outcome::NeedsAdministrator:
        qWarning("no administrator rights: %s", qPrintable(gate.errorString()));
        ui->show->appendPlainText(QStringLiteral("administrator rights are needed to update"));
        return false;
    case UpdateGate::Outcome::HeldElsewhere:
        heldElsewhere = true;
        setStage(stage);
        ui->show->appendPlainText(gate.errorString());
        return false;
    case UpdateGate::Outcome::LockUnusable:
        qWarning("update lock unusable: %s", qPrintable(gate.errorString()));
        ui->show->appendPlainText(gate.errorString());
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return false;
    }
    // What start-up could not settle while another updater was at work is settled first, under
    // the lock.
    if (recoverAtPress) {
        InstallRecovery recovery(QCoreApplication::applicationDirPath());
        const InstallRecovery::Outcome outcome = recovery.run();
        if (!takeRecovery(outcome, recovery.errorString())) {
            gate.close();
            return false;
        }
    }
    return true;
}

void UpdaterDialog::showProgress(qint64 received, qint64 total)
{
    ui->progressBar->setMinimum(0);
    if (total == 0) {
        // An empty body: a busy indicator and a line in the log.
        ui->progressBar->setMaximum(0);
        ui->progressBar->setValue(-1);
        ui->show->appendPlainText(tr("Downloading Updates") + QLatin1String("..."));
        return;
    }
    const int percent = ProgressText::percent(received, total);
    // A size the server did not announce gives nothing to measure against: a busy bar.
    ui->progressBar->setMaximum(percent < 0 ? 0 : 100);
    ui->progressBar->setValue(percent);
    const ProgressMeter::Texts texts = meter.report(received, total);
    ui->label_2->setText(texts.size);
    if (!texts.rate.isEmpty())
        ui->label_3->setText(texts.rate);
}

// A package that did not arrive whole, or that its publisher did not sign, is never offered for
// installation.
void UpdaterDialog::takePackage(PackageFetch::Outcome outcome)
{
    if (outcome != PackageFetch::Outcome::Held) {
        gate.close();
        setStage(Stage::Idle);
    }
    switch (outcome) {
    case PackageFetch::Outcome::Held:
        ui->show->appendPlainText(QStringLiteral("download finished"));
        onDownloadFinished();
        return;
    case PackageFetch::Outcome::DownloadFailed:
        ui->show->appendPlainText(fetch->errorString());
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return;
    case PackageFetch::Outcome::SignatureInvalid:
        qWarning("package signature invalid: %s", qPrintable(fetch->errorString()));
        ui->show->appendPlainText(QStringLiteral("package signature invalid"));
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return;
    case PackageFetch::Outcome::Rejected:
        qWarning("update package rejected: %s", qPrintable(fetch->errorString()));
        ui->show->appendPlainText(QStringLiteral("update package rejected"));
        return;
    }
}

void UpdaterDialog::on_btn_cancel_clicked()
{
    close();
}

void UpdaterDialog::reject()
{
    if (stage == Stage::Closing)
        return;
    if (stage == Stage::Installing && use->cancel()) {
        ui->show->appendPlainText(QStringLiteral("cancelling the update..."));
        setStage(Stage::Closing);
        return;
    }
    // A package still being hashed at Yes is not used once the window is gone.
    if (stage == Stage::Installing)
        setStage(Stage::Closing);
    QDialog::reject();
}

void UpdaterDialog::onDownloadFinished()
{
    // Asked unless Yes was said already, to a delta that did not fit, whose whole package this is.
    if (stage != Stage::Installing && stage != Stage::Closing) {
        setStage(Stage::Asking);
        const QMessageBox::StandardButton answer = QMessageBox::question(
                this, QStringLiteral("update"), QStringLiteral("download finished\nstart update?"),
                QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            fetch->release();
            gate.close();
            setStage(Stage::Idle);
            return;
        }
        setStage(Stage::Installing);
    }
    if (trust.isSigned() && stage != Stage::Closing)
        fetch->recheck();
    else
        usePackage(true);
}

// In a signed build, after the held package was hashed once more.
void UpdaterDialog::usePackage(bool rechecked)
{
    if (stage == Stage::Closing) {
        fetch->release();
        gate.close();
    } else if (!rechecked) {
        if (!fetch->fallBack(fetch->errorString(), true))
            takePackage(PackageFetch::Outcome::SignatureInvalid);
    } else {
        use->start(fetch);
    }
}

void UpdaterDialog::takeUse(PackageUse::Outcome outcome)
{
    if (outcome == PackageUse::Outcome::NotInstalled && stage == Stage::Installing
        && use->mayFallBack() && fetch->fallBack(use->errorString()))
        return;
    fetch->release();
    gate.close();
    const bool closing = stage == Stage::Closing;
    setStage(Stage::Idle);
    switch (outcome) {
    case PackageUse::Outcome::Started:
        QCoreApplication::quit();
        return;
    case PackageUse::Outcome::NotStarted:
        qWarning("update could not be started: %s: %s", qPrintable(use->program()),
                 qPrintable(use->errorString()));
        ui->show->appendPlainText(QStringLiteral("update could not be started: ") + use->program());
        return;
    case PackageUse::Outcome::NotInstalled:
        // The window was closed during the install, which is undone as far as it could be.
        if (closing)
            close();
        else
            showInstallFailure();
        return;
    }
}

// The warning keeps the detail; the log says what it means to the user.
void UpdaterDialog::showInstallFailure()
{
    const QString reason = use->errorString();
    qWarning("update not installed: %s", qPrintable(reason));
    if (use->error() == PackageInstaller::Error::RollBackIncomplete)
        return blockUpdate(QStringLiteral("the update could not be undone completely: ") + reason);
    if (use->error() == PackageInstaller::Error::Busy) {
        heldElsewhere = true;
        setStage(stage);
    }
    ui->show->appendPlainText(use->failureLine());
}

void UpdaterDialog::showInfo(const QString &text)
{
    ui->show->clear();
    ui->show->appendPlainText(text);
}
