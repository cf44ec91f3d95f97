#ifndef SIGNATUREVERIFIER_H
#define SIGNATUREVERIFIER_H

#include "verify/minisignkey.h"
#include "verify/minisignsignature.h"

#include <QByteArray>
#include <QString>

// Checks one minisign signature against one public key, as `minisign -V` does for the "ED"
// algorithm: the Ed25519 signature over the BLAKE2b-512 digest of the file, then the global
// signature over the signature bytes followed by the trusted comment. Both must hold. The legacy
// "Ed" algorithm (the whole file signed) is refused: it cannot be checked while the bytes stream.
class SignatureVerifier
{
public:
    SignatureVerifier(const MinisignKey &key, const MinisignSignature &signature);

    // `digest` is the BLAKE2b-512 of the signed bytes (Blake2b512::result()). On failure `why`
    // says which step failed and, where it matters, the key ids expected and found.
    bool verifyDigest(const QByteArray &digest, QString *why = nullptr) const;
    // The same for bytes held whole in memory, such as a manifest.
    bool verifyData(const QByteArray &bytes, QString *why = nullptr) const;

private:
    MinisignKey key;
    MinisignSignature signature;
};

#endif // SIGNATUREVERIFIER_H
