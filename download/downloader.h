#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

// Fetches one URL into the application directory under the name the server gives in its
// Content-Disposition header (or, lacking one, the last segment of the URL's path). Bytes go to
// "<name>.part" as they arrive; a transfer that ends well is renamed to "<name>", one that fails
// keeps its ".part" name.
class Downloader : public QObject
{
    Q_OBJECT

public:
    explicit Downloader(QObject *parent);

    // Starts a transfer of url, or of the stored address when url is empty. Ignored while a
    // transfer is under way, and when no address is known at all.
    void download(const QString &url);
    // After doFinished: the final file, by its absolute path in the target directory. Whether
    // it holds the new package tells succeeded().
    QFile *file();

    // How the last finished transfer ended: the reply's error, its HTTP status (0 without an
    // answer), and whether the whole body now lies at file(). That needs no error, a 2xx status,
    // a body that reached the disk and a free final name; nothing else is worth installing.
    QNetworkReply::NetworkError error() const;
    int httpStatus() const;
    bool succeeded() const;

    // Where files land; the application directory unless set. Meant for tests, between
    // transfers.
    void setTargetDirectory(const QString &path);

signals:
    void doProgress(qint64, qint64);
    void onError(QNetworkReply::NetworkError);
    void doFinished();

private:
    QNetworkAccessManager *manager;
    QNetworkReply *reply;
    bool busy;
    QUrl url;
    QString fileName;
    QFile outFile;
    QDir targetDir;
    QNetworkReply::NetworkError lastError;
    int lastStatus;
    bool complete;

    void takeName();
    bool saveArrived();
    void finish();
    QString partPath() const;
};

#endif // DOWNLOADER_H
