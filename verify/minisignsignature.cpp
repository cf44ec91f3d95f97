#include "verify/minisignsignature.h"

#include "verify/minisignkey.h"
#include "verify/strictbase64.h"

#include <QList>

namespace {

const QByteArray UntrustedPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray TrustedPrefix = QByteArrayLiteral("trusted comment: ");

MinisignSignature refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return MinisignSignature();
}

// The lines of `bytes` without their "\n" or "\r\n" ends; the last end is optional.
QList<QByteArray> splitLines(QByteArray bytes)
{
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

} // namespace

MinisignSignature MinisignSignature::parse(const QByteArray &bytes, QString *why)
{
    if (bytes.isEmpty())
        return refuse(why, QStringLiteral("signature file is empty"));
    if (bytes.size() > MaxSize)
        return refuse(why, QStringLiteral("signature file is larger than %1 bytes").arg(MaxSize));
    if (bytes.contains('\0'))
        return refuse(why, QStringLiteral("signature file holds a NUL byte"));

    const QList<QByteArray> lines = splitLines(bytes);
    if (lines.size() != 4)
        return refuse(why, QStringLiteral("signature file has %1 lines, not 4").arg(lines.size()));
    for (const QByteArray &line : lines) {
        if (line.contains('\r'))
            return refuse(why, QStringLiteral("signature file holds a stray carriage return"));
    }
    if (!lines[0].startsWith(UntrustedPrefix))
        return refuse(why,
                      QStringLiteral("signature file does not start with an untrusted comment"));
    if (!lines[2].startsWith(TrustedPrefix))
        return refuse(why,
                      QStringLiteral("third line of the signature file is no trusted comment"));

    const QByteArray signatureLine
            = decodeStrictBase64(lines[1], 2 + MinisignKey::KeyIdSize + SignatureSize);
    if (signatureLine.isEmpty())
        return refuse(why, QStringLiteral("signature line is not base64 of 74 bytes"));
    const QByteArray algorithm = signatureLine.left(2);
    if (algorithm != "ED" && algorithm != "Ed")
        return refuse(why, QStringLiteral("unknown signature algorithm"));
    const QByteArray globalSignature = decodeStrictBase64(lines[3], SignatureSize);
    if (globalSignature.isEmpty())
        return refuse(why, QStringLiteral("global signature line is not base64 of 64 bytes"));

    MinisignSignature signature;
    signature.m_algorithm = algorithm;
    signature.m_keyId = signatureLine.mid(2, MinisignKey::KeyIdSize);
    signature.m_signature = signatureLine.mid(2 + MinisignKey::KeyIdSize);
    signature.m_trustedComment = lines[2].mid(TrustedPrefix.size());
    signature.m_globalSignature = globalSignature;
    return signature;
}

bool MinisignSignature::namesFile(const QString &name) const
{
    if (isNull() || name.isEmpty() || name.contains('\t') || name.contains('\n'))
        return false;
    const QByteArray token = "file:" + name.toUtf8();
    const QList<QByteArray> tokens = m_trustedComment.split('\t');
    return tokens.contains(token);
}
