#ifndef MINISIGNSIGNATURE_H
#define MINISIGNSIGNATURE_H

#include <QByteArray>
#include <QString>

// A minisign detached signature (.minisig), parsed strictly. Four lines:
//   untrusted comment: <text>
//   <base64 of algorithm "ED" or legacy "Ed", key id (8 bytes), Ed25519 signature (64 bytes)>
//   trusted comment: <text>
//   <base64 of the global signature (64 bytes) over the signature and the trusted comment>
// Lines end in "\n" or "\r\n"; the last line end may be missing. Empty lines, a fifth line, stray
// carriage returns or NUL bytes, white space inside the base64 lines and files over MaxSize refuse.
// The legacy algorithm parses, so that the verifier can name it when it refuses it.
class MinisignSignature
{
public:
    MinisignSignature() = default;

    static MinisignSignature parse(const QByteArray &bytes, QString *why = nullptr);

    bool isNull() const { return m_signature.isEmpty(); }
    // "ED" (BLAKE2b-512 of the file signed) or "Ed" (legacy: the whole file signed).
    QByteArray algorithm() const { return m_algorithm; }
    QByteArray keyId() const { return m_keyId; }
    QByteArray signature() const { return m_signature; }
    // The text after "trusted comment: ", without the line end, as it was signed.
    QByteArray trustedComment() const { return m_trustedComment; }
    QByteArray globalSignature() const { return m_globalSignature; }

    // Whether the trusted comment holds the tab-separated token "file:<name>" exactly, as minisign
    // writes it by default ("timestamp:<n>\tfile:<name>\thashed"). Names with a tab or a line end
    // cannot be told apart from the tokens around them and never match.
    bool namesFile(const QString &name) const;

    // No signature file that minisign writes comes near this; a downloader bounds its read to it.
    static constexpr int MaxSize = 64 * 1024;
    static constexpr int SignatureSize = 64;

private:
    QByteArray m_algorithm;
    QByteArray m_keyId;
    QByteArray m_signature;
    QByteArray m_trustedComment;
    QByteArray m_globalSignature;
};

#endif // MINISIGNSIGNATURE_H
