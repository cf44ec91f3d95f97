#include "verify/strictbase64.h"

QByteArray decodeStrictBase64(const QByteArray &text, int size)
{
    const int encodedSize = (size + 2) / 3 * 4;
    if (size <= 0 || text.size() != encodedSize)
        return QByteArray();
    const auto decoded
            = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    // Encoding back is what rules out the lenient forms that the decoder lets through.
    if (!decoded || decoded.decoded.size() != size || decoded.decoded.toBase64() != text)
        return QByteArray();
    return decoded.decoded;
}
