#include "httptestserver.h"

#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace {

// A prime, so that no piece size divides it.
constexpr qint64 cycleLength = 1048573;
// Pieces are queued on the socket only while it holds less than this, so a large body is never
// buffered whole.
constexpr qint64 highWater = 1024 * 1024;

const QByteArray &cycle()
{
    static const QByteArray bytes = [] {
        QByteArray b(int(cycleLength), Qt::Uninitialized);
        quint32 x = 2463534242u; // xorshift32
        for (char &c : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x >> 24);
        }
        return b;
    }();
    return bytes;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// The value of a header in a request head (case-insensitive name), empty without one.
QByteArray headerValue(const QByteArray &head, const QByteArray &name)
{
    const QByteArray prefix = name.toLower() + ':';
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith(prefix))
            return line.mid(prefix.size()).trimmed();
    }
    return QByteArray();
}

// Where a range the response honours starts within a body of size bytes, or -1 for the whole body.
qint64 rangeStart(const HttpTestServer::Response &response, const QByteArray &head, qint64 size)
{
    const QByteArray range = headerValue(head, "Range");
    if (response.ranges == HttpTestServer::Ranges::Ignored || !range.startsWith("bytes=")
        || !range.endsWith('-'))
        return -1;
    bool ok = false;
    const qint64 first = range.mid(6, range.size() - 7).toLongLong(&ok);
    const QByteArray ifRange = headerValue(head, "If-Range");
    bool current = ifRange.isEmpty() || response.ranges == HttpTestServer::Ranges::IfRangeIgnored;
    for (const auto &header : response.headers) {
        const bool validator = header.first == "ETag" || header.first == "Last-Modified";
        current = current || (validator && header.second == ifRange);
    }
    return ok && first < size && current ? first : -1;
}

// One connection: reads a request head, then sends the response piece by piece as the socket
// drains. It goes with its socket.
class Exchange : public QObject
{
public:
    using Router = std::function<HttpTestServer::Response(const QByteArray &)>;

    Exchange(QTcpSocket *socket, Router router, QObject *parent)
        : QObject(parent)
        , socket(socket)
        , router(std::move(router))
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, &Exchange::readHead);
        connect(socket, &QTcpSocket::bytesWritten, this, &Exchange::sendMore);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    }

private:
    enum class State { Reading, Sending, Pausing, Done };

    void readHead()
    {
        if (state != State::Reading)
            return;
        head += socket->readAll();
        if (!head.contains("\r\n\r\n"))
            return;
        response = router(head.left(head.indexOf("\r\n\r\n")));
        if (response.silent)
            state = State::Done;
        else
            start();
    }

    void start()
    {
        const qint64 size
                = response.generatedSize >= 0 ? response.generatedSize : response.body.size();
        const qint64 first = rangeStart(response, head, size);
        const bool part = first >= 0;
        offset = part ? first : 0;
        const qint64 last = response.ranges == HttpTestServer::Ranges::OneByte ? first : size - 1;
        bodySize = part ? last - first + 1 : size;
        end = response.stopAfter >= 0 ? qMin(response.stopAfter, bodySize) : bodySize;

        const int status = part ? 206 : response.status;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
                + "\r\nConnection: close\r\n";
        if (part) {
            const bool wrongStart = response.ranges == HttpTestServer::Ranges::WrongStart;
            const bool wrongTotal = response.ranges == HttpTestServer::Ranges::WrongTotal;
            out += "Content-Range: bytes " + QByteArray::number(offset + wrongStart) + '-'
                    + QByteArray::number(last) + '/' + QByteArray::number(size + wrongTotal)
                    + "\r\n";
        }
        if (response.framing == HttpTestServer::Framing::ContentLength)
            out += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
        else if (response.framing == HttpTestServer::Framing::Chunked)
            out += "Transfer-Encoding: chunked\r\n";
        for (const auto &header : qAsConst(response.headers))
            out += header.first + ": " + header.second + "\r\n";
        socket->write(out + "\r\n");
        state = State::Sending;
        sendMore();
    }

    void sendMore()
    {
        if (state != State::Sending)
            return;
        const bool chunked = response.framing == HttpTestServer::Framing::Chunked;
        while (sent < end && socket->bytesToWrite() < highWater) {
            const qint64 size = qMin<qint64>(response.pieceSize, end - sent);
            const QByteArray piece = response.generatedSize >= 0
                    ? HttpTestServer::generated(offset + sent, size)
                    : response.body.mid(int(offset + sent), int(size));
            socket->write(chunked ? QByteArray::number(size, 16) + "\r\n" + piece + "\r\n" : piece);
            sent += size;
            if (response.pauseMs > 0 && sent < end) {
                state = State::Pausing;
                QTimer::singleShot(response.pauseMs, this, [this] {
                    state = State::Sending;
                    sendMore();
                });
                return;
            }
        }
        if (sent < end)
            return; // more once the socket drains
        const bool cutShort = end < bodySize;
        if (cutShort && response.cut == HttpTestServer::Cut::Stall) {
            state = State::Done;
            return;
        }
        if (chunked && !cutShort)
            socket->write("0\r\n\r\n");
        state = State::Done;
        socket->disconnectFromHost(); // after what is queued has gone out
    }

    QTcpSocket *socket;
    Router router;
    State state = State::Reading;
    QByteArray head;
    HttpTestServer::Response response;
    qint64 offset = 0; // of the first byte sent within the whole body
    qint64 bodySize = 0;
    qint64 end = 0;
    qint64 sent = 0;
};

} // namespace

HttpTestServer::HttpTestServer(QObject *parent)
    : QTcpServer(parent)
{
    if (!listen(QHostAddress::LocalHost, 0))
        qFatal("HttpTestServer: cannot listen on 127.0.0.1: %s", qPrintable(errorString()));
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection())
            new Exchange(
                    socket, [this](const QByteArray &head) { return route(head); }, this);
    });
}

void HttpTestServer::respond(const QString &path, const Response &response)
{
    respond(path, QList<Response> { response });
}

void HttpTestServer::respond(const QString &path, const QList<Response> &script)
{
    responses.insert(path, script);
}

bool HttpTestServer::useTls(const QString &certificateFile, const QString &keyFile,
                            QSsl::SslProtocol protocol)
{
    QFile certificate(certificateFile);
    QFile key(keyFile);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return false;
    tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certificate.readAll(), QSsl::Pem));
    tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem));
    tls.setProtocol(protocol);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return !tls.localCertificate().isNull() && !tls.privateKey().isNull();
}

void HttpTestServer::incomingConnection(qintptr descriptor)
{
    if (tls.localCertificate().isNull())
        return QTcpServer::incomingConnection(descriptor);
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(tls);
    addPendingConnection(socket);
    socket->startServerEncryption();
}

QUrl HttpTestServer::url(const QString &path) const
{
    const char *scheme = tls.localCertificate().isNull() ? "http" : "https";
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(QLatin1String(scheme))
                        .arg(serverPort())
                        .arg(path));
}

QStringList HttpTestServer::requests() const
{
    return received;
}

QByteArray HttpTestServer::generated(qint64 offset, qint64 size)
{
    QByteArray out;
    out.reserve(int(size));
    while (out.size() < size) {
        const qint64 at = (offset + out.size()) % cycleLength;
        out.append(cycle().constData() + at, int(qMin(cycleLength - at, size - out.size())));
    }
    return out;
}

QByteArray HttpTestServer::lastRequestHeader(const QByteArray &name) const
{
    return headerValue(lastHead, name);
}

HttpTestServer::Response HttpTestServer::route(const QByteArray &head)
{
    lastHead = head;
    const QString path = QString::fromLatin1(head.left(head.indexOf("\r\n")).split(' ').value(1));
    const int earlier = received.count(path);
    received.append(path);
    if (responses.contains(path)) {
        const QList<Response> &script = responses[path];
        return script.at(qMin(earlier, script.size() - 1));
    }
    Response missing;
    missing.status = 404;
    missing.body = "no such path";
    return missing;
}
