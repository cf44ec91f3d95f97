#include "dialog/updaterdialog.h"
#include "ui_updaterdialog.h"

#include "app/settings.h"
#include "dialog/progresstext.h"
#include "dialog/versionrule.h"
#include "download/downloader.h"
#include "install/packageinstaller.h"
#include "platform/launcher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

UpdaterDialog::UpdaterDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::UpdaterDialog)
    , downloader(nullptr)
    , networkManager(nullptr)
    , needFull(false)
    , downloading(false)
    , receivedBytes(0)
    , lastReportMs(0)
    , lastReportBytes(0)
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
    delete ui;
}

void UpdaterDialog::on_btn_check_clicked()
{
    localVersion = ui->versionInput->text();
    if (localVersion.isEmpty())
        localVersion = QStringLiteral("0.0");

    if (!networkManager) {
        networkManager = new QNetworkAccessManager(this);
        connect(networkManager, SIGNAL(finished(QNetworkReply *)), this,
                SLOT(onCheckReply(QNetworkReply *)));
    }
    networkManager->get(QNetworkRequest(QUrl(manifestUrl, QUrl::TolerantMode)));
}

void UpdaterDialog::onCheckReply(QNetworkReply *reply)
{
    // Released once handled, so that repeated checks do not pile up replies.
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        showInfo(QStringLiteral("check error"));
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
    if (doc.isNull()) {
        showInfo(QStringLiteral("reply doc is null"));
        return;
    }

    // Missing members and members of other types read as empty values.
    const QJsonObject entry
            = doc.object().value(QLatin1String("updates")).toObject().value(platformKey).toObject();
    fullUrl = entry.value(QLatin1String("full-url")).toString();
    changelog = entry.value(QLatin1String("changelog")).toString();
    downloadUrl = entry.value(QLatin1String("download-url")).toString();
    latestVersion = entry.value(QLatin1String("latest-version")).toString();
    modifyTime = entry.value(QLatin1String("modify-time")).toString();

    if (hasNewVersion()) {
        showInfo(tr("current version is : v") + localVersion + tr("\nlatest version : v")
                 + latestVersion + tr("\nmodify time : ") + modifyTime + tr("\nchangelog: ")
                 + changelog + tr("\nclick update button to update"));
        ui->btn_update->setEnabled(true);
    } else {
        showInfo(tr("current software is up-to-date") + tr("\nversion: v") + localVersion
                 + tr("\nclick cancel button to quit"));
        ui->btn_update->setEnabled(false);
    }
}

void UpdaterDialog::on_btn_update_clicked()
{
    if (!downloader) {
        downloader = new Downloader(this);
        connect(downloader, &Downloader::onError, this,
                [this](QNetworkReply::NetworkError code) { logDownloadError(code); });
        connect(downloader, &Downloader::doFinished, this, [this] { finishDownload(); });
        connect(downloader, &Downloader::doProgress, this,
                [this](qint64 received, qint64 total) { showProgress(received, total); });
    }

    // A press while a download runs changes nothing the summary measures.
    if (!downloading) {
        downloadClock.start();
        receivedBytes = 0;
        lastReportMs = 0;
        lastReportBytes = 0;
    }
    const QString url = needFull ? fullUrl : downloadUrl;
    if (needFull)
        ui->show->appendPlainText(QStringLiteral("need full"));
    // An empty address starts nothing here, so nothing is then running.
    if (!url.isEmpty())
        downloading = true;
    downloader->download(url);
}

void UpdaterDialog::showProgress(qint64 received, qint64 total)
{
    receivedBytes = received;
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
    showProgressSize(received, total);
    showSpeedAndRemaining(received, total);
}

void UpdaterDialog::logDownloadError(QNetworkReply::NetworkError code)
{
    const QMetaObject &meta = QNetworkReply::staticMetaObject;
    const QMetaEnum errors = meta.enumerator(meta.indexOfEnumerator("NetworkError"));
    ui->show->appendPlainText(QString::fromLatin1(errors.valueToKey(code)));
}

void UpdaterDialog::finishDownload()
{
    downloading = false;
    ui->label_3->setText(ProgressText::summary(downloadClock.elapsed(), receivedBytes));
    // A package that did not arrive whole is never offered for installation.
    if (!downloader->succeeded()) {
        // A network error has been logged by its name already; a status that is
        // not a success (a redirect, which is not followed) has not.
        const int status = downloader->httpStatus();
        if (downloader->error() == QNetworkReply::NoError && (status < 200 || status > 299))
            ui->show->appendPlainText(QStringLiteral("HTTP %1").arg(status));
        ui->show->appendPlainText(QStringLiteral("download failed"));
        return;
    }
    ui->show->appendPlainText(QStringLiteral("download finished"));
    onDownloadFinished();
}

void UpdaterDialog::on_btn_cancel_clicked()
{
    close();
}

void UpdaterDialog::onDownloadFinished()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
            this, QStringLiteral("update"), QStringLiteral("download finished\nstart update?"),
            QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    const QFileInfo package(downloader->file()->fileName());
    QString name;
    if (needFull) {
        // The full package is the installer itself, started by the name it was saved under.
        name = package.completeBaseName();
    } else {
        PackageInstaller installer(package.absoluteFilePath(), package.absolutePath());
        if (!installer.install()) {
            qWarning("update package rejected: %s", qPrintable(installer.errorString()));
            ui->show->appendPlainText(QStringLiteral("update package rejected"));
            return;
        }
        name = appName;
    }

    const QString exePath = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name
            + QLatin1String(".exe");
    if (!Launcher::start(exePath,
                         needFull ? Launcher::Origin::Downloaded : Launcher::Origin::Installed)) {
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
    return VersionRule::offersUpdate(localVersion, latestVersion, &needFull);
}

void UpdaterDialog::showProgressSize(qint64 received, qint64 total)
{
    ui->label_2->setText(ProgressText::sizeLine(received, total));
}

void UpdaterDialog::showSpeedAndRemaining(qint64 received, qint64 total)
{
    const qint64 nowMs = downloadClock.elapsed();
    const QString line = ProgressText::rateLine(received - lastReportBytes, nowMs - lastReportMs,
                                                received, total, nowMs);
    // Reports within one millisecond add their bytes to the next interval that has a length.
    if (nowMs > lastReportMs) {
        lastReportMs = nowMs;
        lastReportBytes = received;
    }
    // An empty line has nothing sound to say yet: the last one stays.
    if (!line.isEmpty())
        ui->label_3->setText(line);
}
