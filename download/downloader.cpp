// Placeholder so the tree builds; the download engine replaces it.
#include "download/downloader.h"

#include <QNetworkAccessManager>

Downloader::Downloader(QObject *parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
    , reply(nullptr)
    , busy(false)
{
}
void Downloader::download(const QString &) { }
QFile *Downloader::file() { return &outFile; }
QNetworkReply::NetworkError Downloader::error() const { return QNetworkReply::NoError; }
int Downloader::httpStatus() const { return 0; }
bool Downloader::succeeded() const { return false; }
