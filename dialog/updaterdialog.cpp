#include "dialog/updaterdialog.h"
#include "ui_updaterdialog.h"

#include "road/progresstext.h"
#include "road/settings.h"

#include <QCoreApplication>
#include <QMessageBox>

UpdaterDialog::UpdaterDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::UpdaterDialog)
    , run(new UpdateRun(QCoreApplication::applicationDirPath(), true, this))
{
    ui->setupUi(this);
    setWindowTitle(tr("Updater"));
    ui->btn_update->setEnabled(false);
    ui->versionInput->setText(currentVersion);
    // The log takes no input, yet every line of it can be reached: read-only, not disabled, so
    // that it scrolls, selects and copies, and shows no caret. Appending follows the newest line
    // unless the user has scrolled away from the end.
    ui->show->setReadOnly(true);
    ui->show->setTabChangesFocus(true);
    ui->label_2->setText(QString());
    ui->label_3->setText(QString());
    connect(run, &UpdateRun::stageChanged, this,
            [this] { ui->btn_update->setEnabled(run->mayUpdate()); });
    connect(run, &UpdateRun::line, this, &UpdaterDialog::showLine);
    connect(run, &UpdateRun::progress, this, &UpdaterDialog::showProgress);
    connect(run, &UpdateRun::downloadStarted, this, [this] { meter.start(); });
    connect(run, &UpdateRun::downloadEnded, this,
            [this] { ui->label_3->setText(meter.summary()); });
    connect(run, &UpdateRun::question, this, &UpdaterDialog::ask);
    connect(run, &UpdateRun::finished, this, &UpdaterDialog::runFinished);
}

UpdaterDialog::~UpdaterDialog()
{
    // An install still running is ended before the widgets it reports to.
    delete run;
    delete ui;
}

bool UpdaterDialog::reportRecovery(InstallRecovery::Outcome outcome, const QString &why)
{
    return run->reportRecovery(outcome, why);
}

void UpdaterDialog::showLine(const UpdateRun::Line &line)
{
    if (line.kind == UpdateRun::Line::Kind::Summary)
        ui->show->clear();
    ui->show->appendPlainText(line.text);
}

void UpdaterDialog::on_btn_check_clicked()
{
    run->check(ui->versionInput->text());
}

void UpdaterDialog::on_btn_update_clicked()
{
    run->update();
}

void UpdaterDialog::ask()
{
    const QMessageBox::StandardButton answer
            = QMessageBox::question(this, tr("update"), tr("download finished\nstart update?"),
                                    QMessageBox::Yes | QMessageBox::No);
    run->consent(answer == QMessageBox::Yes);
}

void UpdaterDialog::runFinished(UpdateRun::Outcome outcome)
{
    switch (outcome) {
    case UpdateRun::Outcome::Started:
    case UpdateRun::Outcome::Installed:
    case UpdateRun::Outcome::Restarting:
        QCoreApplication::quit();
        return;
    // The window was closed during the install, which is undone as far as it could be.
    case UpdateRun::Outcome::Cancelled:
        close();
        return;
    case UpdateRun::Outcome::Declined:
    case UpdateRun::Outcome::Failed:
        return;
    }
}

void UpdaterDialog::showProgress(qint64 received, qint64 total)
{
    ui->progressBar->setMinimum(0);
    if (total == 0) {
        // An empty body: a busy indicator and a line in the log.
        ui->progressBar->setMaximum(0);
        ui->progressBar->setValue(-1);
        ui->show->appendPlainText(tr("Downloading Updates..."));
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

void UpdaterDialog::on_btn_cancel_clicked()
{
    close();
}

void UpdaterDialog::reject()
{
    if (run->leave())
        QDialog::reject();
}
