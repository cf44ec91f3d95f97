#include "dialog/updaterdialog.h"
#include "ui_updaterdialog.h"

#include "dialog/manifest.h"
#include "dialog/progressmeter.h"
#include "dialog/progresstext.h"
#include "dialog/settings.h"
#include "dialog/updatecheck.h"
#include "dialog/versionrule.h"
#include "download/downloader.h"
#include "download/networklimits.h"
#include "download/transferwatch.h"
#include "install/installjob.h"
#include "platform/elevation.h"
#include "platform/fileidentity.h"
#include "platform/heldfile.h"
#include "platform/launcher.h"
#include "verify/filedigest.h"
#include "verify/releasetrust.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

QString anotherUpdateRunning()
{
    return QStringLiteral("another update is running");
}

} // namespace

UpdaterDialog::UpdaterDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::UpdaterDialog)
    , downloader(nullptr)
    , networkManager(nullptr)
    , check(nullptr)
    , needFull(false)
    , fullPackage(false)
    , downloading(false)
    , trust(publicKey)
    , installJob(nullptr)
    , recheck(nullptr)
    , closeAfterInstall(false)
    , recoverAtPress(false)
    , updateLock(UpdateLock::folderOf(QCoreApplication::applicationDirPath()))
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Updater"));
    ui->btn_update->setEnabled(false);
    localVersion = currentVersion;
    ui->versionInput->setText(localVersion);
    // The log only shows messages; it takes no input.
    ui->show->setEnabled(false);
    ui->label_2->setText(QString());
    ui->label_3->setText(QString());
}

UpdaterDialog::~UpdaterDialog()
{
    // An install or a hash still running reads heldPackage: they are ended first.
    delete installJob;
    delete recheck;
    delete ui;
}

bool UpdaterDialog::takeRecovery(InstallRecovery::Outcome outcome)
{
    recoverAtPress = outcome == InstallRecovery::Outcome::Busy;
    switch (outcome) {
    case InstallRecovery::Outcome::Clean:
    case InstallRecovery::Outcome::RolledBack:
        return true;
    case InstallRecovery::Outcome::Busy:
        ui->show->appendPlainText(anotherUpdateRunning());
        return false;
    // Recovery has warned with the folder it kept.
    case InstallRecovery::Outcome::Unreadable:
        blockUpdate(QStringLiteral("an interrupted update could not be undone"));
        return false;
    case InstallRecovery::Outcome::Incomplete:
        blockUpdate(QStringLiteral("the update could not be undone completely"));
        return false;
    }
    return false;
}

void UpdaterDialog::blockUpdate(const QString &why)
{
    blockedBecause = why;
    ui->show->appendPlainText(why);
    ui->btn_update->setEnabled(false);
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

void UpdaterDialog::createNetworkManager()
{
    if (!networkManager)
        networkManager = new QNetworkAccessManager(this);
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
    case UpdateCheck::Outcome::Read:
        break;
    }
    const Manifest &manifest = result.manifest;
    fullUrl = manifest.fullUrl;
    changelog = manifest.changelog;
    downloadUrl = manifest.downloadUrl;
    latestVersion = manifest.latestVersion;
    modifyTime = manifest.modifyTime;

    if (hasNewVersion()) {
        showInfo(tr("current version is : v") + localVersion + tr("\nlatest version : v")
                 + latestVersion + tr("\nmodify time : ") + modifyTime + tr("\nchangelog: ")
                 + changelog + tr("\nclick update button to update"));
        // Offered, but not while another updater is at work here, nor over what could not be
        // undone; the log says which.
        QString obstacle = blockedBecause;
        if (obstacle.isEmpty()
            && UpdateLock::isHeldElsewhere(
                    UpdateLock::folderOf(QCoreApplication::applicationDirPath())))
            obstacle = anotherUpdateRunning();
        if (!obstacle.isEmpty())
            ui->show->appendPlainText(obstacle);
        ui->btn_update->setEnabled(obstacle.isEmpty());
    } else {
        showInfo(tr("current software is up-to-date") + tr("\nversion: v") + localVersion
                 + tr("\nclick cancel button to quit"));
        ui->btn_update->setEnabled(false);
    }
}

void UpdaterDialog::on_btn_update_clicked()
{
    // The package on disk is being unpacked: nothing may fetch over it now.
    if (installJob && installJob->isRunning())
        return;
    if (!downloader) {
        downloader = new Downloader(this);
        connect(downloader, &Downloader::onError, this,
                [this](QNetworkReply::NetworkError code) { logDownloadError(code); });
        connect(downloader, &Downloader::doFinished, this, [this] { finishDownload(); });
        connect(downloader, &Downloader::doProgress, this,
                [this](qint64 received, qint64 total) { showProgress(received, total); });
    }

    // A press while a download runs changes nothing the summary measures.
    if (!downloading)
        meter.start();
    const QString url = needFull ? fullUrl : downloadUrl;
    if (needFull)
        ui->show->appendPlainText(QStringLiteral("need full"));
    if (downloading)
        return;
    if (url.isEmpty()) {
        ui->show->appendPlainText(QStringLiteral("no package address in the manifest"));
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return;
    }
    if (!mayChangeApplication() || !lockForUpdate())
        return;
    // A check during the download may change needFull; the package is installed as what it was
    // fetched as.
    fullPackage = needFull;
    if (trust.isSigned())
        fetchPackageSignature(url);
    else
        startDownload(url);
}

// An application folder the user may not change (under "Program Files") is updated by a copy of
// the updater started again with an administrator's rights and the same arguments, or not at all.
bool UpdaterDialog::mayChangeApplication()
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (Elevation::canWriteTo(folder))
        return true;
    if (Elevation::isElevated()) {
        qWarning("cannot write to %s, even as an administrator", qPrintable(folder));
    } else {
        ui->show->appendPlainText(QStringLiteral("starting again with administrator rights"));
        QString why;
        const Elevation::Start start
                = Elevation::startElevated(QCoreApplication::applicationFilePath(),
                                           QCoreApplication::arguments().mid(1), &why);
        if (start == Elevation::Start::Started) {
            QCoreApplication::quit();
            return false;
        }
        if (start == Elevation::Start::Failed)
            qWarning("no administrator rights: %s", qPrintable(why));
    }
    ui->show->appendPlainText(QStringLiteral("administrator rights are needed to update"));
    return false;
}

// The lock is ours from here to the end of the install; what start-up could not settle while
// another updater was at work is settled first, under it.
bool UpdaterDialog::lockForUpdate()
{
    if (!updateLock.tryLock()) {
        if (updateLock.error() == UpdateLock::Error::HeldElsewhere) {
            ui->show->appendPlainText(anotherUpdateRunning());
            ui->btn_update->setEnabled(false);
            return false;
        }
        qWarning("update lock unusable: %s", qPrintable(updateLock.errorString()));
        ui->show->appendPlainText(updateLock.errorString());
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return false;
    }
    if (recoverAtPress) {
        InstallRecovery recovery(QCoreApplication::applicationDirPath());
        if (!takeRecovery(recovery.run())) {
            updateLock.unlock();
            return false;
        }
    }
    return true;
}

void UpdaterDialog::startDownload(const QString &url)
{
    downloading = true;
    downloader->setHashing(trust.isSigned());
    downloader->download(url);
}

// The package's signature comes first: a package that could never be installed is not fetched.
void UpdaterDialog::fetchPackageSignature(const QString &url)
{
    const QUrl packageUrl(url, QUrl::TolerantMode);
    // The downloader refuses such an address with its own reason; nothing else is fetched.
    if (!NetworkLimits::isWebAddress(packageUrl)) {
        startDownload(url);
        return;
    }
    QUrl signatureUrl = packageUrl;
    signatureUrl.setPath(packageUrl.path() + QLatin1String(".minisig"));
    createNetworkManager();
    QNetworkReply *reply = networkManager->get(NetworkLimits::request(signatureUrl));
    auto *watch = new TransferWatch(reply, NetworkLimits::signatureMaxBytes);
    downloading = true;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, watch, url] { takePackageSignature(reply, watch, url); });
}

void UpdaterDialog::takePackageSignature(QNetworkReply *reply, const TransferWatch *watch,
                                         const QString &url)
{
    reply->deleteLater();
    downloading = false;
    QString why = watch->errorString();
    if (why.isEmpty())
        trust.takePackageSignature(reply->readAll(), QUrl(url, QUrl::TolerantMode).fileName(),
                                   &why);
    if (!why.isEmpty()) {
        refusePackageSignature(why);
        return;
    }
    startDownload(url);
}

void UpdaterDialog::refusePackageSignature(const QString &why)
{
    updateLock.unlock();
    qWarning("package signature invalid: %s", qPrintable(why));
    ui->show->appendPlainText(QStringLiteral("package signature invalid"));
    ui->show->appendPlainText(QStringLiteral("download failed"));
}

// The digest the downloader computed from the bytes as it wrote them, against the signature
// fetched before the download.
bool UpdaterDialog::packageVerified()
{
    QString why;
    if (trust.verifyPackage(downloader->digest(), &why))
        return true;
    // No file stays under the package's final name.
    QFile::remove(downloader->file()->fileName());
    refusePackageSignature(why);
    return false;
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

void UpdaterDialog::logDownloadError(QNetworkReply::NetworkError code)
{
    // Our own aborts (time-outs, caps, a full disk, cancel) say why in the downloader's reason,
    // logged at the end; their key name would only mislead.
    if (code == QNetworkReply::OperationCanceledError)
        return;
    const QMetaObject &meta = QNetworkReply::staticMetaObject;
    const QMetaEnum errors = meta.enumerator(meta.indexOfEnumerator("NetworkError"));
    ui->show->appendPlainText(QString::fromLatin1(errors.valueToKey(code)));
}

void UpdaterDialog::finishDownload()
{
    downloading = false;
    ui->label_3->setText(meter.summary());
    // A package that did not arrive whole, or that its publisher did not sign, is never
    // offered for installation.
    if (!downloader->succeeded()) {
        updateLock.unlock();
        ui->show->appendPlainText(downloader->errorString());
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return;
    }
    if (trust.isSigned() && !packageVerified())
        return;
    if (!holdPackage())
        return;
    ui->show->appendPlainText(QStringLiteral("download finished"));
    onDownloadFinished();
}

// From here on the package cannot change where the system can refuse it (Windows); elsewhere
// the handle is checked to be the file that was downloaded, and a signed build hashes it again
// at Yes.
bool UpdaterDialog::holdPackage()
{
    heldPackage = std::make_unique<QFile>();
    const QString path = downloader->file()->fileName();
    QString why;
    if (!HeldFile::open(heldPackage.get(), path))
        why = heldPackage->errorString();
    else if (FileIdentity::of(*heldPackage) != downloader->identity())
        why = QStringLiteral("the file changed after it was downloaded");
    if (why.isEmpty())
        return true;
    heldPackage.reset();
    updateLock.unlock();
    qWarning("update package rejected: %s: %s", qPrintable(path), qPrintable(why));
    ui->show->appendPlainText(QStringLiteral("update package rejected"));
    return false;
}

void UpdaterDialog::on_btn_cancel_clicked()
{
    close();
}

void UpdaterDialog::reject()
{
    if (installJob && installJob->isRunning()) {
        if (!closeAfterInstall)
            ui->show->appendPlainText(QStringLiteral("cancelling the update..."));
        closeAfterInstall = true;
        installJob->cancel();
        return;
    }
    QDialog::reject();
}

void UpdaterDialog::onDownloadFinished()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
            this, QStringLiteral("update"), QStringLiteral("download finished\nstart update?"),
            QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        heldPackage.reset();
        updateLock.unlock();
        return;
    }
    if (!trust.isSigned()) {
        usePackage();
        return;
    }
    ui->btn_update->setEnabled(false);
    if (!recheck) {
        recheck = new FileDigest(this);
        connect(recheck, &FileDigest::done, this, &UpdaterDialog::recheckPackage);
    }
    recheck->start(heldPackage.get());
}

// The bytes about to be used against the signature once more: what was verified as it arrived
// may have been changed in place since, where the system does not hold the file (Unix).
void UpdaterDialog::recheckPackage(const QByteArray &digest)
{
    QString why;
    if (trust.verifyPackage(digest, &why)) {
        usePackage();
        return;
    }
    heldPackage.reset();
    QFile::remove(downloader->file()->fileName());
    refusePackageSignature(QStringLiteral("the package changed after it was verified: ") + why);
}

void UpdaterDialog::usePackage()
{
    if (fullPackage)
        startFullPackage();
    else
        installPackage();
}

// The full package is the installer itself, started from the download folder by the path it
// was saved under, and only while it is still the file that was downloaded (and verified).
void UpdaterDialog::startFullPackage()
{
    const QString path = downloader->file()->fileName();
    QString why;
    if (!path.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        why = QStringLiteral("not an .exe");
    else if (FileIdentity::of(path) != downloader->identity())
        why = QStringLiteral("the file changed after it was downloaded");
    else if (!Launcher::start(path, Launcher::Origin::Downloaded))
        why = QStringLiteral("the system did not start it");
    // The installer is on its own now, or never began: the folder is free again.
    heldPackage.reset();
    updateLock.unlock();
    if (!why.isEmpty()) {
        qWarning("update could not be started: %s: %s", qPrintable(path), qPrintable(why));
        ui->show->appendPlainText(QStringLiteral("update could not be started: ") + path);
        return;
    }
    QCoreApplication::quit();
}

// The incremental package is unpacked over the application directory on a thread of its own.
// The installer reads only through the held handle, once more checked to be the file that was
// downloaded (and verified).
void UpdaterDialog::installPackage()
{
    if (FileIdentity::of(*heldPackage) != downloader->identity()) {
        installFinished(false, PackageInstaller::Error::Refused,
                        QStringLiteral("the file changed after it was downloaded"));
        return;
    }
    if (!installJob) {
        installJob = new InstallJob(this);
        connect(installJob, &InstallJob::finished, this, [this](bool ok, const QString &reason) {
            installFinished(ok, installJob->error(), reason);
        });
    }
    ui->btn_update->setEnabled(false);
    installJob->start(heldPackage.get(), QCoreApplication::applicationDirPath(),
                      Downloader::folderName());
}

void UpdaterDialog::installFinished(bool ok, PackageInstaller::Error kind, const QString &reason)
{
    heldPackage.reset();
    updateLock.unlock();
    // A cancel that came after the last move leaves a finished install: Morvane starts as after
    // any finished install, and the window closes with the updater.
    if (closeAfterInstall && !ok) {
        close();
        return;
    }
    if (!ok && kind == PackageInstaller::Error::RollBackIncomplete) {
        qWarning("the update could not be undone completely: %s", qPrintable(reason));
        blockUpdate(QStringLiteral("the update could not be undone completely"));
        return;
    }
    if (!ok && kind == PackageInstaller::Error::Busy) {
        qWarning("update not installed: %s", qPrintable(reason));
        ui->show->appendPlainText(anotherUpdateRunning());
        return;
    }
    if (!ok) {
        qWarning("update package rejected: %s", qPrintable(reason));
        ui->show->appendPlainText(QStringLiteral("update package rejected"));
        ui->btn_update->setEnabled(true);
        return;
    }
    const QString exePath = QCoreApplication::applicationDirPath() + QLatin1Char('/') + appName
            + QLatin1String(".exe");
    if (!Launcher::start(exePath, Launcher::Origin::Installed)) {
        ui->show->appendPlainText(QStringLiteral("update could not be started: ") + exePath);
        return;
    }
    QCoreApplication::quit();
}

void UpdaterDialog::showInfo(const QString &text)
{
    ui->show->clear();
    ui->show->appendPlainText(text);
}

bool UpdaterDialog::hasNewVersion()
{
    const bool offered = VersionRule::offersUpdate(localVersion, latestVersion, &needFull);
    // A signed manifest can be replayed: only a strictly newer release is worth offering.
    return trust.isSigned() ? VersionRule::isNewer(localVersion, latestVersion) : offered;
}
