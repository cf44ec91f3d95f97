#ifndef TRANSFER_H
#define TRANSFER_H

#include "download/downloader.h"
#include "platform/fileidentity.h"

#include <QByteArray>
#include <QFile>
#include <QString>

class HashWorker;
class QNetworkReply;
class QThread;
class TransferWatch;

// Everything that belongs to one transfer of the Downloader: its reply and the reply's watch, the
// partial file, how far it got and why it failed, and the hashing beside the writing. The
// Downloader makes a new one at each download() and keeps it until the next, so nothing of an
// earlier transfer is ever reset by hand. The reply and its watch belong to the network access
// manager; the hashing thread and its worker belong to the transfer.
struct Transfer
{
    Transfer() = default;
    // Stops the hashing thread and waits for it.
    ~Transfer();
    Q_DISABLE_COPY(Transfer)

    // Records why the transfer fails. The first cause found is the one told: what follows it
    // (the abort of the reply, say) is only its consequence.
    void fail(Downloader::Error error, const QString &why);
    bool failed() const { return kind != Downloader::Error::NoError; }
    // For a finished reply: fails the transfer as the watch judges the reply, if it finds fault.
    void takeWatchVerdict();

    // Starts the hashing thread and its worker; stopHasher() ends both. Their signals are the
    // Downloader's to connect.
    void startHasher();
    void stopHasher();
    // Hands bytes just written to the hasher, if any, and counts them as not yet hashed.
    void hash(const QByteArray &piece);

    QNetworkReply *reply = nullptr; // null once it has finished
    TransferWatch *watch = nullptr; // the reply's child, gone with it
    QFile part; // "<name>.part", open while written
    qint64 written = 0;
    Downloader::Error kind = Downloader::Error::NoError;
    QString reason; // empty while nothing went wrong

    QThread *hashThread = nullptr;
    HashWorker *hasher = nullptr; // null without hashing, and once stopped
    qint64 unhashed = 0; // bytes handed to the hasher and not yet hashed
    QByteArray digest;
    // The final file, checked against the handle that wrote it.
    FileIdentity identity;
};

#endif // TRANSFER_H
