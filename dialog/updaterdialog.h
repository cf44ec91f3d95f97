#ifndef UPDATERDIALOG_H
#define UPDATERDIALOG_H

#include "dialog/progressmeter.h"
#include "install/installrecovery.h"
#include "road/updaterun.h"

#include <QDialog>
#include <QString>

namespace Ui {
class UpdaterDialog;
}

// The program's one window, a view of an UpdateRun: it forwards the presses of check and update,
// asks the run's question, and shows what the run reports, the download with live progress.
class UpdaterDialog : public QDialog
{
    Q_OBJECT

public:
    explicit UpdaterDialog(QWidget *parent = nullptr);
    ~UpdaterDialog() override;

    // What the recovery of earlier installs found. What it could not settle is told in the log;
    // what it could not undo keeps update off for the life of the dialog, and when another
    // updater was at work the update press runs the recovery again; why is the recovery's own
    // detail, which names the holder of the lock. True when settled.
    bool reportRecovery(InstallRecovery::Outcome outcome, const QString &why);
    // The update it shows.
    UpdateRun *updateRun() const { return run; }

public slots:
    // Closing while a package is being unpacked first rolls the install back; the window closes
    // when that is done.
    void reject() override;

private slots:
    void on_btn_check_clicked();
    void on_btn_update_clicked();
    void on_btn_cancel_clicked();

private:
    void showLine(const UpdateRun::Line &line);
    void ask();
    void runFinished(UpdateRun::Outcome outcome);
    void showProgress(qint64 received, qint64 total);

    Ui::UpdaterDialog *ui;
    UpdateRun *run;
    // One meter per download, from the press that started it to its end; later presses while
    // it runs do not restart it.
    ProgressMeter meter;
};

#endif // UPDATERDIALOG_H
