#ifndef UPDATERDIALOG_H
#define UPDATERDIALOG_H

#include "dialog/packagefetch.h"
#include "dialog/packageuse.h"
#include "dialog/progressmeter.h"
#include "dialog/settings.h"
#include "dialog/updatecheck.h"
#include "dialog/updategate.h"
#include "install/installrecovery.h"
#include "verify/releasetrust.h"

#include <QCoreApplication>
#include <QDialog>
#include <QNetworkReply>
#include <QString>

class Downloader;

namespace Ui {
class UpdaterDialog;
}

// The program's one window: checks the update manifest, downloads the package with live
// progress, and installs it when the user agrees.
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
    bool takeRecovery(InstallRecovery::Outcome outcome, const QString &why);

public slots:
    // Closing while a package is being unpacked first rolls the install back; the window closes
    // when that is done.
    void reject() override;

private slots:
    void on_btn_check_clicked();
    void on_btn_update_clicked();
    void on_btn_cancel_clicked();
    void onDownloadFinished();

private:
    // Where the update stands. Check and cancel stay enabled throughout; update is offered only
    // Idle or Downloading (a press then changes nothing), and only while a read manifest offers
    // an update that nothing stands in the way of.
    enum class Stage {
        Idle,
        Downloading, // the package's signature, then the package
        Asking, // the question whether to install
        // From Yes to the end of the install, or the start of the full installer; also while the
        // whole package is fetched for a delta that did not fit
        Installing,
        Closing, // the window was closed during the install: it closes when that is undone
    };

    void setStage(Stage next);
    void showInfo(const QString &text);
    void takeCheck(const UpdateCheck::Result &result);
    bool openGate();
    void blockUpdate(const QString &why);
    void createDownloader();
    void takePackage(PackageFetch::Outcome outcome);
    void usePackage(bool rechecked);
    void takeUse(PackageUse::Outcome outcome);
    void showInstallFailure();
    void showProgress(qint64 received, qint64 total);

    Ui::UpdaterDialog *ui;
    Downloader *downloader = nullptr;
    QString localVersion;
    UpdateCheck *check = nullptr;
    // The values of the last manifest read.
    Manifest manifest;
    bool needFull = false;
    Stage stage = Stage::Idle;
    // Whether the last manifest read offers an update.
    bool offered = false;
    // Another updater held the folder when last looked at; the next check looks again.
    bool heldElsewhere = false;
    // Why update stays off for good: a folder that recovery or a roll-back could not restore.
    QString blockedBecause;
    bool recoverAtPress = false;
    // One meter per download, from the press that started it to its end; later presses while
    // it runs do not restart it.
    ProgressMeter meter;

    // The built-in key, and the package signature taken for the download, in a signed build.
    ReleaseTrust trust { publicKey };
    PackageFetch *fetch = nullptr;
    // Reads the package fetch holds: it goes first.
    PackageUse *use = nullptr;
    // Open from the update press to the end of the install.
    UpdateGate gate { QCoreApplication::applicationDirPath() };
};

#endif // UPDATERDIALOG_H
