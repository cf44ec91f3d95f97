#include "download/refusedreply.h"

#include <QTimer>

RefusedReply::RefusedReply(const QNetworkRequest &request, const QString &why, QObject *parent)
    : QNetworkReply(parent)
    , why(why)
{
    setRequest(request);
    setUrl(request.url());
    setOperation(QNetworkAccessManager::GetOperation);
    open(QIODevice::ReadOnly);
    QTimer::singleShot(0, this, &RefusedReply::refuse);
}

void RefusedReply::abort()
{
    refuse();
}

qint64 RefusedReply::readData(char *, qint64)
{
    return -1;
}

void RefusedReply::refuse()
{
    if (isFinished())
        return;
    setError(ProtocolUnknownError, why);
    setFinished(true);
    emit errorOccurred(ProtocolUnknownError);
    emit finished();
}
