#include "download/downloader.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>

namespace {

// What the reply may hold between two reads. Unbounded, Qt lets hundreds of MiB pile up on a fast
// link; a few MiB keep the disk busy without holding the package in memory.
constexpr qint64 readBufferSize = 2 * 1024 * 1024;

// Only the last path component of a name from the server is used, so the file stays in the
// target directory. ':' counts as a separator too: on Windows "C:x.exe" is drive-relative and
// "x.exe:y" names a stream of another file.
QString lastComponent(const QString &name)
{
    static const QRegularExpression separator(QStringLiteral("[/\\\\:]"));
    const QString last = name.mid(name.lastIndexOf(separator) + 1);
    return last == QLatin1String(".") || last == QLatin1String("..") ? QString() : last;
}

// The file name of a Content-Disposition value, or an empty string. The quoted form is matched
// greedily on the percent-decoded value read as UTF-8; the RFC 6266 form filename*=UTF-8''...
// is taken when the quoted one gives no name.
QString nameFromDisposition(const QByteArray &value)
{
    static const QRegularExpression quoted(QStringLiteral("(.*)filename=\"(?<filename>.*)\""));
    static const QRegularExpression extended(
            QStringLiteral("filename\\*\\s*=\\s*UTF-8'[^']*'([^;\\s]+)"),
            QRegularExpression::CaseInsensitiveOption);

    // Read up to the first zero byte, as a C string would be.
    const QString text = QString::fromUtf8(QByteArray::fromPercentEncoding(value).constData());
    const QString name = lastComponent(quoted.match(text).captured(QStringLiteral("filename")));
    if (!name.isEmpty())
        return name;
    const QString encoded = extended.match(QString::fromLatin1(value)).captured(1);
    return lastComponent(QUrl::fromPercentEncoding(encoded.toLatin1()));
}

// Moves an earlier package out of the way: to its dated backup, or, where that day's backup
// exists already, away altogether. Anything but a plain file is left alone.
void retire(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return;
    const QString backup
            = path + QLatin1Char('_') + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    if (!QFile::rename(path, backup))
        QFile::remove(path);
}

} // namespace

Downloader::Downloader(QObject *parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
    , reply(nullptr)
    , busy(false)
    , fileName(QLatin1String(""))
    , targetDir(QCoreApplication::applicationDirPath())
    , lastError(QNetworkReply::NoError)
    , lastStatus(0)
    , complete(false)
{ }

void Downloader::download(const QString &url)
{
    if (busy)
        return;
    if (!url.isEmpty())
        this->url.setUrl(url, QUrl::TolerantMode);
    // Without any address there is no transfer, and busy stays down so a later address is taken.
    if (this->url.isEmpty())
        return;
    busy = true;

    if (!targetDir.exists())
        targetDir.mkpath(QStringLiteral("."));
    retire(targetDir.filePath(fileName));
    QFile::remove(partPath());

    reply = manager->get(QNetworkRequest(this->url));
    reply->setReadBufferSize(readBufferSize);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64 total) { emit doProgress(received, total); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] { takeName(); });
    connect(reply, &QNetworkReply::finished, this, [this] { finish(); });
    connect(reply, SIGNAL(errorOccurred(QNetworkReply::NetworkError)), this,
            SIGNAL(onError(QNetworkReply::NetworkError)));
    // Reading as bytes arrive is what lets the bounded read buffer refill.
    connect(reply, &QIODevice::readyRead, this, [this] {
        if (!saveArrived())
            reply->abort();
    });
}

QFile *Downloader::file()
{
    return &outFile;
}

QNetworkReply::NetworkError Downloader::error() const
{
    return lastError;
}

int Downloader::httpStatus() const
{
    return lastStatus;
}

bool Downloader::succeeded() const
{
    return complete;
}

void Downloader::setTargetDirectory(const QString &path)
{
    targetDir.setPath(QDir(path).absolutePath());
}

void Downloader::takeName()
{
    QString name = nameFromDisposition(reply->rawHeader("Content-Disposition"));
    if (name.isEmpty())
        name = lastComponent(url.fileName(QUrl::FullyDecoded));
    // With no usable name at all the earlier one stays.
    if (!name.isEmpty())
        fileName = name;
    // Renaming an open QFile closes it, and the next write would start the file afresh.
    if (!outFile.isOpen())
        outFile.setFileName(targetDir.filePath(fileName));
}

// Writes what the reply holds to the partial file; false when the disk refuses it.
bool Downloader::saveArrived()
{
    if (reply->bytesAvailable() <= 0)
        return true;
    if (!outFile.isOpen()) {
        // The first write of a transfer starts the partial file afresh, whatever an earlier run
        // left under this name. Unbuffered: the reads are large, and what arrived is on disk.
        outFile.setFileName(partPath());
        if (!outFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return false;
    }
    const QByteArray data = reply->readAll();
    return outFile.write(data) == data.size();
}

void Downloader::finish()
{
    const bool saved = saveArrived();
    const bool wrote = outFile.isOpen();
    outFile.close();

    lastError = reply->error();
    lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A failed, redirected or empty transfer keeps its bytes under the partial name, so that
    // nothing half-made takes the final one.
    complete = wrote && saved && outFile.error() == QFileDevice::NoError
            && lastError == QNetworkReply::NoError && lastStatus / 100 == 2;
    const QString finalPath = targetDir.filePath(fileName);
    if (complete) {
        retire(finalPath);
        complete = outFile.rename(finalPath);
    }
    outFile.setFileName(finalPath);

    busy = false;
    emit doFinished();
}

QString Downloader::partPath() const
{
    return targetDir.filePath(fileName + QLatin1String(".part"));
}
