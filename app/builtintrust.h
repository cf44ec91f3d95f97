#ifndef BUILTINTRUST_H
#define BUILTINTRUST_H

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QSslCertificate>

// What https trusts, chosen by the publisher at configure time: the certificates of
// UPDATER_CA_FILE compiled in, or, without them, the system's trust store.
class BuiltInTrust
{
    Q_DECLARE_TR_FUNCTIONS(BuiltInTrust)

public:
    BuiltInTrust() = delete;

    // Hands the compiled-in certificates to the network, before its first request. False when
    // they are there but cannot all be read: the program must then not go on, as falling back
    // to the system's store would trust more than the publisher chose.
    static bool apply();
    // The certificates of pem, or none when any block of it is unreadable.
    static QList<QSslCertificate> certificatesOf(const QByteArray &pem);
    // What the user is told when apply() fails.
    static QString unreadableText();
};

#endif // BUILTINTRUST_H
