#ifndef STRICTBASE64_H
#define STRICTBASE64_H

#include <QByteArray>

// Decodes standard base64 (with '=' padding) only when `text` is the one canonical encoding of
// exactly `size` bytes: no white space, no missing or extra padding, no stray bits in the last
// character. Anything else gives an empty array, so two spellings never pass for one key.
QByteArray decodeStrictBase64(const QByteArray &text, int size);

#endif // STRICTBASE64_H
