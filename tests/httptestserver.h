#ifndef HTTPTESTSERVER_H
#define HTTPTESTSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

// A scripted HTTP/1.1 server on 127.0.0.1 for tests and benchmarks. It listens on a free port
// from construction until it is destroyed, answers each request with the response set for its
// path (404 for any other path) and closes the connection after every response. A path may have a
// script of responses instead, one per request in turn, the last for every request after. With
// useTls() it serves the same over https. It lives in the thread that creates it.
//
//     HttpTestServer server;
//     HttpTestServer::Response package;
//     package.headers = { { "Content-Disposition", "attachment; filename=\"pkg.zip\"" } };
//     package.generatedSize = 5 << 20; // 5 MiB of HttpTestServer::generated() bytes
//     package.framing = HttpTestServer::Framing::Chunked;
//     server.respond("/pkg", package);
//     downloader.download(server.url("/pkg").toString());
class HttpTestServer : public QTcpServer
{
    Q_OBJECT

public:
    // How the client learns where the body ends.
    enum class Framing {
        ContentLength, // a Content-Length header with the full body size
        Chunked, // Transfer-Encoding: chunked, one chunk per piece
        Close // no length: the body ends when the connection closes
    };
    // What follows once stopAfter body bytes are out.
    enum class Cut {
        Close, // the connection closes, leaving the body short
        Stall // nothing more is sent; the connection stays open until the server goes
    };
    // What becomes of a request's "Range: bytes=<first>-".
    enum class Ranges {
        Ignored, // the whole body, 200
        Honoured, // 206 with the rest, unless If-Range differs from the ETag or Last-Modified sent
        IfRangeIgnored, // as Honoured, whatever If-Range says
        WrongStart, // as Honoured, but Content-Range names one byte later as the first
        WrongTotal, // as Honoured, but Content-Range names one byte more as the complete length
        OneByte, // as Honoured, but only the first byte asked for, as a part of its own
    };

    struct Response
    {
        int status = 200;
        // Sent as given, after the status line and the server's own framing headers.
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // When >= 0, the body is generated(0, generatedSize) instead of body; it is produced
        // piece by piece, so any size costs no memory.
        qint64 generatedSize = -1;
        Framing framing = Framing::ContentLength;
        int pieceSize = 64 * 1024;
        int pauseMs = 0; // after each piece but the last
        qint64 stopAfter = -1; // when >= 0, only this many body bytes are sent, then the cut
        Cut cut = Cut::Close;
        bool silent = false; // accepts the connection and reads the request, then says nothing
        Ranges ranges = Ranges::Ignored;
    };

    explicit HttpTestServer(QObject *parent = nullptr);

    // Sets the response to every later request of path (path and query, e.g. "/pkg?v=2").
    void respond(const QString &path, const Response &response);
    // Sets the script of responses to the later requests of path.
    void respond(const QString &path, const QList<Response> &script);
    // From now on every connection is TLS with the PEM certificate and key of these files, and
    // only protocol is spoken (QSsl::TlsV1_0: a server that offers nothing newer; OpenSSL 3 then
    // needs a security level of 0, which the process's OpenSSL configuration must give). False
    // when either file cannot be read.
    bool useTls(const QString &certificateFile, const QString &keyFile,
                QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater);
    // http://127.0.0.1:<port><path>, or https:// after useTls()
    QUrl url(const QString &path) const;
    // The paths of all requests received so far, in order of arrival.
    QStringList requests() const;
    // The value of a header of the latest request (case-insensitive name), empty without one.
    QByteArray lastRequestHeader(const QByteArray &name) const;

    // Bytes [offset, offset + size) of the endless generated body: a pseudo-random cycle whose
    // prime length no piece size divides, so a lost or repeated piece changes what follows.
    static QByteArray generated(qint64 offset, qint64 size);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    Response route(const QByteArray &head);

    QSslConfiguration tls; // without a certificate: plain http

    QHash<QString, QList<Response>> responses;
    QStringList received;
    QByteArray lastHead;
};

#endif // HTTPTESTSERVER_H
