#ifndef UPDATECHECK_H
#define UPDATECHECK_H

#include "download/networkfailure.h"
#include "road/manifest.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkReply;
class ReleaseTrust;
class TransferWatch;

// The presses of "check": each fetches the manifest and, in a signed build, its signature at
// once, both bounded by the network limits, and ends in one result once both replies are in.
// A later press does not cancel an earlier one; each reports.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Read, // the manifest's values are in the result
        TransferFailed, // the manifest did not arrive whole: "check error"
        SignatureInvalid, // signed build: its signature missing or not the publisher's
        Expired, // signed build: past its expiry, or without one where one is required
        NotJson, // no JSON to read
        Unusable // JSON with values no publisher writes, or an http address in one read
                 // over https
    };
    struct Result
    {
        Outcome outcome = Outcome::TransferFailed;
        Manifest manifest;
        QString detail; // why, for the warning output, where the outcome is not Read
        QString reason; // why, for the user, where the outcome is not Read
    };

    // How far this machine's clock may run ahead of the publisher's when an expiry is judged.
    static constexpr qint64 clockSkewSeconds = 24 * 60 * 60;

    // trust outlives the check.
    explicit UpdateCheck(const ReleaseTrust &trust, QObject *parent = nullptr);

    void start(const QString &manifestUrl, const QString &platformKey);

signals:
    void finished(const UpdateCheck::Result &result);

private:
    struct Round
    {
        int pending = 0;
        QString platformKey;
        QString fileName; // the manifest URL's last segment, which its signature must name
        bool secure = false; // read over https, so every address it names must be too
        bool late = false; // the deadline passed before every reply was in
        QList<QPointer<QNetworkReply>> replies;
        QByteArray manifest;
        QString manifestFailure;
        NetworkFailure manifestCause;
        QByteArray signature;
        QString signatureFailure;
        NetworkFailure signatureCause;
    };

    void send(const QString &url, qint64 maxBytes, int round, bool signature);
    void take(QNetworkReply *reply, const TransferWatch *watch);
    void expire(int round);
    Result judge(const Round &round) const;
    static QString expiryProblem(const Manifest &manifest);
    static QString insecureAddress(const Manifest &manifest);

    const ReleaseTrust &trust;
    // Presses still waiting for a reply, by their number.
    QHash<int, Round> rounds;
    int lastRound = 0;
};

#endif // UPDATECHECK_H
