#ifndef NETWORKFAILURE_H
#define NETWORKFAILURE_H

#include <QSslError>
#include <QString>

class QNetworkReply;

// Why an answer from the network could not be used, as values that a line for the user is made
// from: the cause, the server's status, the host asked and the limit that ended it. Filled where
// the failure is found, never read back from a message.
struct NetworkFailure
{
    enum class Cause {
        None,
        ConnectionRefused,
        HostNotFound,
        NoAnswer, // nothing arrived for limit ms
        TooSlow, // less than the drip floor over limit ms
        Lost, // the connection ended before the answer was whole
        Status, // an HTTP status but the one asked for
        Compressed,
        TooLarge, // more than limit bytes
        NotWebAddress,
        Secure, // no secure connection could be made
        Empty, // an empty body where a file was expected
        Malformed, // an answer that breaks its own headers
        Redirected, // a redirect where none is followed, to address
        TooManyRedirects, // more than limit redirects
        RedirectLoop, // a redirect back to an address asked before, address
        RedirectScheme, // a redirect to address, which is no http or https address
        RedirectInsecure, // a redirect from https to the http address
        Other,
    };

    // The cause of a reply that failed at the network, by its error code.
    static NetworkFailure of(const QNetworkReply &reply);
    // Keeps the first fault that reply's server certificate is found to have, for of().
    static void watchCertificate(QNetworkReply *reply);
    // "host:port" of the reply's address, the port always given.
    static QString hostOf(const QNetworkReply &reply);

    Cause cause = Cause::None;
    int status = 0;
    QString host;
    qint64 limit = 0;
    QString address; // where a redirect leads
    // What was wrong with the server's certificate when the cause is Secure; NoError when the
    // handshake failed before any certificate was judged.
    QSslError::SslError certificate = QSslError::NoError;
};

#endif // NETWORKFAILURE_H
