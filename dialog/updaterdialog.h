#ifndef UPDATERDIALOG_H
#define UPDATERDIALOG_H

#include <QDialog>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QString>

class Downloader;
class QNetworkAccessManager;

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

private slots:
    void on_btn_check_clicked();
    void onCheckReply(QNetworkReply *reply);
    void on_btn_update_clicked();
    void on_btn_cancel_clicked();
    void onDownloadFinished();

private:
    void showInfo(const QString &text);
    bool hasNewVersion();
    void showProgress(qint64 received, qint64 total);
    void showProgressSize(qint64 received, qint64 total);
    void showSpeedAndRemaining(qint64 received, qint64 total);
    void logDownloadError(QNetworkReply::NetworkError code);
    void finishDownload();

    Ui::UpdaterDialog *ui;
    Downloader *downloader;
    QString localVersion;
    QNetworkAccessManager *networkManager;
    QString changelog;
    QString downloadUrl;
    QString latestVersion;
    QString fullUrl;
    QString modifyTime;
    bool needFull;
    // One clock per download, from the press that started it to its end; later presses while it
    // runs do not restart it.
    QElapsedTimer downloadClock;
    bool downloading;
    qint64 receivedBytes;
    // The previous report, for the speed over the last interval.
    qint64 lastReportMs;
    qint64 lastReportBytes;
};

#endif // UPDATERDIALOG_H
