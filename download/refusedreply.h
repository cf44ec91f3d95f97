#ifndef REFUSEDREPLY_H
#define REFUSEDREPLY_H

#include <QNetworkReply>

// The answer to a request the program refuses to send: no byte, and from the event loop the
// error ProtocolUnknownError with the reason as its errorString(), then finished(), as a reply
// of the network would fail. Aborted before, it fails at once the same way.
class RefusedReply : public QNetworkReply
{
public:
    RefusedReply(const QNetworkRequest &request, const QString &why, QObject *parent);

    void abort() override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    void refuse();

    QString why;
};

#endif // REFUSEDREPLY_H
