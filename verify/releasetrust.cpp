#include "verify/releasetrust.h"

#include "verify/signatureverifier.h"

ReleaseTrust::ReleaseTrust(const QString &publicKey)
    : signedBuild(!publicKey.isEmpty())
    , keyProblem()
    , key(MinisignKey::fromString(publicKey, &keyProblem))
{ }

bool ReleaseTrust::verifyManifest(const QByteArray &manifest, const QByteArray &signature,
                                  QString *why) const
{
    const MinisignSignature parsed = MinisignSignature::parse(signature, why);
    return !parsed.isNull() && SignatureVerifier(key, parsed).verifyData(manifest, why);
}

bool ReleaseTrust::takePackageSignature(const QByteArray &signature, const QString &fileName,
                                        QString *why)
{
    const MinisignSignature parsed = MinisignSignature::parse(signature, why);
    if (parsed.isNull())
        return false;
    why->clear();
    if (key.isNull())
        *why = QStringLiteral("the built-in public key is unusable: ") + keyProblem;
    else if (parsed.keyId() != key.keyId())
        *why = QStringLiteral("signed with key %1, expected key %2")
                       .arg(MinisignKey::printableKeyId(parsed.keyId()), key.printableKeyId());
    // Ties the signature to the file the signed manifest names, not just to the publisher.
    else if (!parsed.namesFile(fileName))
        *why = QStringLiteral("the trusted comment does not name file:%1").arg(fileName);
    if (!why->isEmpty())
        return false;
    packageSignature = parsed;
    return true;
}

bool ReleaseTrust::verifyPackage(const QByteArray &digest, QString *why) const
{
    return SignatureVerifier(key, packageSignature).verifyDigest(digest, why);
}
