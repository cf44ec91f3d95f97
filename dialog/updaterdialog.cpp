#include "dialog/updaterdialog.h"
#include "ui_updaterdialog.h"

#include "app/settings.h"
#include "dialog/progresstext.h"
#include "download/downloader.h"
#include "install/packageinstaller.h"
#include "platform/launcher.h"

#include <QCoreApplication>
#include <QDateTime>
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
    , startTime(0)
    , totalBytes(0)
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
        connect(downloader, &Downloader::onError, this, [this](QNetworkReply::NetworkError code) {
            const QMetaObject &meta = QNetworkReply::staticMetaObject;
            const QMetaEnum errors = meta.enumerator(meta.indexOfEnumerator("NetworkError"));
            ui->show->appendPlainText(QString::fromLatin1(errors.valueToKey(code)));
        });
        connect(downloader, &Downloader::doFinished, this, [this] {
            const double totalTime
                    = quint32(quint32(QDateTime::currentSecsSinceEpoch()) - startTime);
            const double averageSpeed = double(totalBytes) / 1024.0 / totalTime;
            ui->label_3->setText(ProgressText::summary(totalTime, averageSpeed));
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
        });
        connect(downloader, &Downloader::doProgress, this, [this](qint64 received, qint64 total) {
            totalBytes = quint64(total);
            ui->progressBar->setMinimum(0);
            if (total != 0) {
                ui->progressBar->setMaximum(100);
                ui->progressBar->setValue(int(quint64(received) * 100 / quint64(total)));
                showProgressSize(received, total);
                showSpeedAndRemaining(received, total);
            } else {
                // No size to measure against: a busy indicator and a line in the log.
                ui->progressBar->setMaximum(0);
                ui->progressBar->setValue(-1);
                ui->show->appendPlainText(tr("Downloading Updates") + QLatin1String("..."));
            }
        });
    }

    startTime = quint32(QDateTime::currentDateTime().toSecsSinceEpoch());
    const QString url = needFull ? fullUrl : downloadUrl;
    if (needFull)
        ui->show->appendPlainText(QStringLiteral("need full"));
    downloader->download(url);
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
    const QStringList local = localVersion.split(QLatin1Char('.'));
    const QStringList latest = latestVersion.split(QLatin1Char('.'));

    // A local version of nothing but zeros has no installation to patch: it takes the full
    // package. Every local part is looked at, so there is no early exit.
    needFull = true;
    bool newer = local.size() != latest.size();
    for (int i = 0; i < local.size(); ++i) {
        if (local.at(i) != QLatin1String("0"))
            needFull = false;
        // A part that is not a number reads as 0.
        if (i < latest.size() && latest.at(i).toUInt() > local.at(i).toUInt())
            newer = true;
    }
    return newer;
}

void UpdaterDialog::showProgressSize(qint64 received, qint64 total)
{
    ui->label_2->setText(tr("Downloading updates") + QLatin1String(" (")
                         + ProgressText::size(received) + QLatin1Char(' ') + tr("of")
                         + QLatin1Char(' ') + ProgressText::size(total) + QLatin1Char(')'));
}

void UpdaterDialog::showSpeedAndRemaining(qint64 received, qint64 total)
{
    // Kept across downloads on purpose: the speed is measured between consecutive reports.
    static quint32 previousReportMs = 0;
    static quint64 previousReportBytes = 0;

    const quint32 nowMs = quint32(QDateTime::currentDateTime().toMSecsSinceEpoch());
    const quint32 elapsedMs = nowMs - previousReportMs;
    previousReportMs = nowMs;
    const quint64 deltaBytes = quint64(received) - previousReportBytes;
    previousReportBytes = quint64(received);

    const quint32 elapsedSeconds
            = quint32(QDateTime::currentDateTime().toSecsSinceEpoch()) - startTime;
    if (elapsedSeconds == 0)
        return;
    // Fewer bytes than seconds gives no rate to divide by; keep the last text then.
    const qint64 averageRate = received / qint64(elapsedSeconds);
    if (averageRate == 0)
        return;
    const qint64 remaining = (total - received) / averageRate;

    const double speed = double(deltaBytes) / 1024.0 / double(elapsedMs) * 1000.0;
    ui->label_3->setText(ProgressText::speed(speed) + tr("Time remaining") + QLatin1String(": ")
                         + ProgressText::remaining(remaining));
}
