#ifndef MINISIGNKEY_H
#define MINISIGNKEY_H

#include <QByteArray>
#include <QString>

// A minisign public key: base64 of "Ed", the 8-byte key id and the 32-byte Ed25519 key, as the
// second line of a minisign .pub file (56 characters starting with "RW"). Parsing is strict: only
// that one line, without white space or comment, is a key.
class MinisignKey
{
public:
    MinisignKey() = default;

    // A null key, with the reason in `why`, unless `text` is exactly one well-formed key string.
    static MinisignKey fromString(const QString &text, QString *why = nullptr);

    bool isNull() const { return m_key.isEmpty(); }
    QByteArray keyId() const { return m_keyId; }
    // The key id as minisign prints it ("AC64E6C258FA5D65"): for log lines.
    QString printableKeyId() const { return printableKeyId(m_keyId); }
    // The raw 32-byte Ed25519 public key.
    QByteArray keyBytes() const { return m_key; }

    // Minisign stores a key id little-endian and prints it as a 64-bit number.
    static QString printableKeyId(const QByteArray &keyId);

    static constexpr int KeyIdSize = 8;
    static constexpr int KeySize = 32;
    static constexpr int EncodedSize = 56;

private:
    QByteArray m_keyId;
    QByteArray m_key;
};

#endif // MINISIGNKEY_H
