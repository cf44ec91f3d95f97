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
// Content-Disposition header. Bytes go to "<name>.part" as they arrive; a transfer that ends
// well is renamed to "<name>", one that fails keeps its ".part" name.
class Downloader : public QObject
{
    Q_OBJECT

public:
    explicit Downloader(QObject *parent);

    // Starts a transfer of url, or of the stored address when url is empty. Ignored while a
    // transfer is under way.
    void download(const QString &url);
    // After doFinished: the final file, by its absolute path in the application directory.
    QFile *file();

    // How the last finished transfer ended. A package is whole only when there was no error
    // and the HTTP status was 2xx.
    QNetworkReply::NetworkError error() const;
    int httpStatus() const;
    bool succeeded() const;

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
};

#endif // DOWNLOADER_H
