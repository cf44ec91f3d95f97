#ifndef UPDATERDIALOG_H
#define UPDATERDIALOG_H

#include "dialog/progressmeter.h"
#include "dialog/updatecheck.h"
#include "install/installrecovery.h"
#include "install/packageinstaller.h"
#include "platform/updatelock.h"
#include "verify/releasetrust.h"

#include <QByteArray>
#include <QDialog>
#include <QNetworkReply>
#include <QString>

#include <memory>

class Downloader;
class FileDigest;
class InstallJob;
class QFile;
class QNetworkAccessManager;
class TransferWatch;

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
    // updater was at work the update press runs the recovery again. True when settled.
    bool takeRecovery(InstallRecovery::Outcome outcome);

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
    void showInfo(const QString &text);
    bool hasNewVersion();
    void createNetworkManager();
    void takeCheck(const UpdateCheck::Result &result);
    bool mayChangeApplication();
    bool lockForUpdate();
    void blockUpdate(const QString &why);
    void startDownload(const QString &url);
    void fetchPackageSignature(const QString &url);
    void takePackageSignature(QNetworkReply *reply, const TransferWatch *watch, const QString &url);
    void refusePackageSignature(const QString &why);
    bool packageVerified();
    bool holdPackage();
    void recheckPackage(const QByteArray &digest);
    void usePackage();
    void startFullPackage();
    void installPackage();
    void installFinished(bool ok, PackageInstaller::Error kind, const QString &reason);
    void showProgress(qint64 received, qint64 total);
    void logDownloadError(QNetworkReply::NetworkError code);
    void finishDownload();

    Ui::UpdaterDialog *ui;
    Downloader *downloader;
    QString localVersion;
    // Carries the package's signature.
    QNetworkAccessManager *networkManager;
    UpdateCheck *check;
    QString changelog;
    QString downloadUrl;
    QString latestVersion;
    QString fullUrl;
    QString modifyTime;
    bool needFull;
    // Whether the package being downloaded, or last downloaded, is the full one.
    bool fullPackage;
    // One meter per download, from the press that started it to its end; later presses while
    // it runs do not restart it.
    ProgressMeter meter;
    bool downloading;

    // The built-in key, and the package signature taken for the download, in a signed build.
    ReleaseTrust trust;
    InstallJob *installJob;
    // The downloaded package, held open against change from its verification until the
    // installer has read it or the full installer has started.
    std::unique_ptr<QFile> heldPackage;
    // Hashes heldPackage again at Yes in a signed build; it reads heldPackage, so it goes first.
    FileDigest *recheck;
    bool closeAfterInstall;
    // Why update stays off for good: a folder that recovery or a roll-back could not restore.
    QString blockedBecause;
    bool recoverAtPress;
    // Held from the update press to the end of the install, so no other updater works under us.
    UpdateLock updateLock;
};

#endif // UPDATERDIALOG_H
