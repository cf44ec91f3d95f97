#include "common/blake2b512.h"

#include <openssl/evp.h>

#include <limits>

void Blake2b512::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Blake2b512::Blake2b512()
    : context(EVP_MD_CTX_new())
    , ok(context && EVP_DigestInit_ex(context.get(), EVP_blake2b512(), nullptr) == 1)
{ }

Blake2b512::~Blake2b512() = default;

void Blake2b512::addData(const char *data, qint64 size)
{
    // EVP takes size_t; pieces beyond its range would be a caller's bug, so hash in slices.
    while (ok && size > 0) {
        const qint64 slice = qMin<qint64>(size, std::numeric_limits<int>::max());
        ok = EVP_DigestUpdate(context.get(), data, size_t(slice)) == 1;
        data += slice;
        size -= slice;
    }
}

QByteArray Blake2b512::result()
{
    QByteArray out(Size, Qt::Uninitialized);
    unsigned int length = 0;
    if (!ok
        || EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char *>(out.data()),
                              &length)
                != 1
        || length != Size) {
        ok = false;
        return QByteArray();
    }
    ok = false;
    return out;
}
