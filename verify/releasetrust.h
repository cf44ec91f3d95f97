#ifndef RELEASETRUST_H
#define RELEASETRUST_H

#include "verify/minisignkey.h"
#include "verify/minisignsignature.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

// What the publisher's key built into the program vouches for: the manifest of a release and
// its package. The key is parsed once. A build without a key is unsigned: it checks nothing
// here, and its callers authenticate nothing.
class ReleaseTrust
{
public:
    // Why the last verification failed, as a kind; `why` has the detail.
    enum class Problem {
        None,
        Unreadable, // not a minisign signature
        KeyUnusable, // the built-in key
        OtherKey,
        OtherFile, // the trusted comment names another file
        Mismatch, // the bytes are not those signed
        NotTaken, // no package signature was taken for the address
    };

    explicit ReleaseTrust(const QString &publicKey);

    bool isSigned() const { return signedBuild; }

    // The manifest's bytes against the bytes of its .minisig, which must come from the built-in
    // key and name fileName, the manifest URL's last segment, in its trusted comment (as minisign
    // writes by default). On failure `why` says why.
    bool verifyManifest(const QByteArray &manifest, const QByteArray &signature,
                        const QString &fileName, QString *why) const;
    // The package's .minisig, fetched before the package from address: it must parse, come from
    // the built-in key and name the address's last segment in its trusted comment. Kept, bound
    // to address, for verifyPackage() when it does; the one kept before is dropped either way.
    bool acceptPackageSignature(const QByteArray &signature, const QUrl &address, QString *why);
    // The BLAKE2b-512 of the bytes fetched from address against the signature taken for that
    // very address: no other address's signature vouches for them.
    bool verifyPackage(const QByteArray &digest, const QUrl &address, QString *why) const;
    // Drops the package signature kept, as each fetch starts.
    void forgetPackageSignature();
    Problem problem() const { return lastProblem; }

private:
    // signature parsed, from the built-in key and naming fileName; null otherwise.
    MinisignSignature accepted(const QByteArray &signature, const QString &fileName,
                               QString *why) const;

    bool signedBuild;
    QString keyProblem; // before the key, which writes it as it is parsed
    MinisignKey key;
    MinisignSignature packageSignature;
    QUrl signedAddress; // what packageSignature was fetched for
    mutable Problem lastProblem = Problem::None;
};

#endif // RELEASETRUST_H
