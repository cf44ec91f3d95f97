#include "verify/minisignkey.h"

#include "verify/strictbase64.h"

#include <algorithm>

namespace {

MinisignKey refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return MinisignKey();
}

} // namespace

MinisignKey MinisignKey::fromString(const QString &text, QString *why)
{
    if (text.size() != EncodedSize)
        return refuse(why,
                      QStringLiteral("public key has %1 characters, not %2")
                              .arg(text.size())
                              .arg(EncodedSize));
    const QByteArray decoded = decodeStrictBase64(text.toLatin1(), 2 + KeyIdSize + KeySize);
    // toLatin1 maps characters it cannot hold to '?', which base64 refuses.
    if (decoded.isEmpty())
        return refuse(why, QStringLiteral("public key is not valid base64"));
    if (!decoded.startsWith("Ed"))
        return refuse(why, QStringLiteral("public key is not an Ed25519 minisign key"));
    MinisignKey key;
    key.m_keyId = decoded.mid(2, KeyIdSize);
    key.m_key = decoded.mid(2 + KeyIdSize);
    return key;
}

QString MinisignKey::printableKeyId(const QByteArray &keyId)
{
    QByteArray bigEndian = keyId;
    std::reverse(bigEndian.begin(), bigEndian.end());
    // As minisign prints the number: without leading zeros.
    QByteArray hex = bigEndian.toHex().toUpper();
    while (hex.size() > 1 && hex.startsWith('0'))
        hex.remove(0, 1);
    return QString::fromLatin1(hex);
}
