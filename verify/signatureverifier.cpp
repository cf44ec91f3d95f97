#include "verify/signatureverifier.h"

#include "common/blake2b512.h"

#include <openssl/evp.h>

#include <memory>

namespace {

bool refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

// Pure Ed25519 (RFC 8032, not the prehashed variant) of `message` under a raw 32-byte key.
bool ed25519Verify(const QByteArray &publicKey, const QByteArray &signature,
                   const QByteArray &message)
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
            EVP_PKEY_new_raw_public_key(
                    EVP_PKEY_ED25519, nullptr,
                    reinterpret_cast<const unsigned char *>(publicKey.constData()),
                    size_t(publicKey.size())),
            &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    return key && context
            && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
            && EVP_DigestVerify(context.get(),
                                reinterpret_cast<const unsigned char *>(signature.constData()),
                                size_t(signature.size()),
                                reinterpret_cast<const unsigned char *>(message.constData()),
                                size_t(message.size()))
            == 1;
}

} // namespace

SignatureVerifier::SignatureVerifier(const MinisignKey &key, const MinisignSignature &signature)
    : key(key)
    , signature(signature)
{ }

bool SignatureVerifier::verifyDigest(const QByteArray &digest, QString *why) const
{
    if (key.isNull())
        return refuse(why, QStringLiteral("no public key"));
    if (signature.isNull())
        return refuse(why, QStringLiteral("no signature"));
    if (signature.algorithm() != "ED")
        return refuse(why,
                      QStringLiteral("legacy signature algorithm \"Ed\" refused (key %1)")
                              .arg(MinisignKey::printableKeyId(signature.keyId())));
    if (signature.keyId() != key.keyId())
        return refuse(
                why,
                QStringLiteral("signed by key %1, expected key %2")
                        .arg(MinisignKey::printableKeyId(signature.keyId()), key.printableKeyId()));
    if (digest.size() != Blake2b512::Size)
        return refuse(why, QStringLiteral("no BLAKE2b-512 digest of the file"));
    if (!ed25519Verify(key.keyBytes(), signature.signature(), digest))
        return refuse(why,
                      QStringLiteral("signature does not match the file (key %1)")
                              .arg(key.printableKeyId()));
    if (!ed25519Verify(key.keyBytes(), signature.globalSignature(),
                       signature.signature() + signature.trustedComment()))
        return refuse(why,
                      QStringLiteral("global signature does not match the trusted comment (key %1)")
                              .arg(key.printableKeyId()));
    return true;
}

bool SignatureVerifier::verifyData(const QByteArray &bytes, QString *why) const
{
    Blake2b512 hash;
    hash.addData(bytes);
    return verifyDigest(hash.result(), why);
}
