// Minisign key strings, .minisig files and their verification, from arbitrary bytes.
// An input is a key string, a line end, then the .minisig of Message; the seeds are real ones.
#include "verify/minisignkey.h"
#include "verify/minisignsignature.h"
#include "verify/signatureverifier.h"

#include <cstddef>
#include <cstdint>

namespace {

const QByteArray Message = QByteArrayLiteral("Morvane fuzz\n");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     int(qMin<size_t>(size, 1 << 20)));
    const int lineEnd = input.indexOf('\n');
    const QByteArray keyText = lineEnd < 0 ? input : input.left(lineEnd);
    const QByteArray minisig = lineEnd < 0 ? QByteArray() : input.mid(lineEnd + 1);

    QString why;
    const MinisignKey key = MinisignKey::fromString(QString::fromUtf8(keyText), &why);
    const MinisignSignature signature = MinisignSignature::parse(minisig, &why);
    if (!key.isNull())
        key.printableKeyId();
    if (!signature.isNull())
        signature.namesFile(QStringLiteral("fuzz message"));
    SignatureVerifier(key, signature).verifyData(Message, &why);
    return 0;
}
