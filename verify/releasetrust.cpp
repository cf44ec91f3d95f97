#include "verify/releasetrust.h"

#include "verify/signatureverifier.h"

ReleaseTrust::ReleaseTrust(const QString &publicKey)
    : signedBuild(!publicKey.isEmpty())
    , keyProblem()
    , key(MinisignKey::fromString(publicKey, &keyProblem))
{ }

bool ReleaseTrust::verifyManifest(const QByteArray &manifest, const QByteArray &signature,
                                  const QString &fileName, QString *why) const
{
    const MinisignSignature parsed = accepted(signature, fileName, why);
    if (parsed.isNull())
        return false;
    const bool verified = SignatureVerifier(key, parsed).verifyData(manifest, why);
    lastProblem = verified ? Problem::None : Problem::Mismatch;
    return verified;
}

bool ReleaseTrust::acceptPackageSignature(const QByteArray &signature, const QUrl &address,
                                          QString *why)
{
    forgetPackageSignature();
    const MinisignSignature parsed = accepted(signature, address.fileName(), why);
    if (parsed.isNull())
        return false;
    packageSignature = parsed;
    signedAddress = address;
    return true;
}

void ReleaseTrust::forgetPackageSignature()
{
    packageSignature = MinisignSignature();
    signedAddress.clear();
}

MinisignSignature ReleaseTrust::accepted(const QByteArray &signature, const QString &fileName,
                                         QString *why) const
{
    const MinisignSignature parsed = MinisignSignature::parse(signature, why);
    lastProblem = Problem::Unreadable;
    if (parsed.isNull())
        return parsed;
    why->clear();
    lastProblem = Problem::None;
    if (key.isNull()) {
        lastProblem = Problem::KeyUnusable;
        *why = QStringLiteral("the built-in public key is unusable: ") + keyProblem;
    } else if (parsed.keyId() != key.keyId()) {
        lastProblem = Problem::OtherKey;
        *why = QStringLiteral("signed with key %1, expected key %2")
                       .arg(MinisignKey::printableKeyId(parsed.keyId()), key.printableKeyId());
    } else if (!parsed.namesFile(fileName)) {
        // Ties the signature to the one file it was made for, not just to the publisher: a
        // signed package's signature does not vouch for a manifest, nor one release's for
        // another.
        lastProblem = Problem::OtherFile;
        *why = QStringLiteral("the trusted comment does not name file:%1").arg(fileName);
    }
    return why->isEmpty() ? parsed : MinisignSignature();
}

bool ReleaseTrust::verifyPackage(const QByteArray &digest, const QUrl &address, QString *why) const
{
    if (packageSignature.isNull() || address.isEmpty() || address != signedAddress) {
        lastProblem = Problem::NotTaken;
        *why = QStringLiteral("no signature was taken for ") + address.toString();
        return false;
    }
    const bool verified = SignatureVerifier(key, packageSignature).verifyDigest(digest, why);
    lastProblem = verified ? Problem::None : Problem::Mismatch;
    return verified;
}
