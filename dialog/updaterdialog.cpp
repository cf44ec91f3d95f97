#include "dialog/updaterdialog.h"
#include "ui_updaterdialog.h"

#include "app/settings.h"
#include "download/downloader.h"

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

void UpdaterDialog::on_btn_check_clicked() { }

void UpdaterDialog::onCheckReply(QNetworkReply *) { }

void UpdaterDialog::on_btn_update_clicked() { }

void UpdaterDialog::on_btn_cancel_clicked()
{
    close();
}

void UpdaterDialog::onDownloadFinished() { }

void UpdaterDialog::showInfo(const QString &text)
{
    ui->show->clear();
    ui->show->appendPlainText(text);
}

bool UpdaterDialog::hasNewVersion()
{
    return false;
}

void UpdaterDialog::showProgressSize(qint64, qint64) { }

void UpdaterDialog::showSpeedAndRemaining(qint64, qint64) { }
