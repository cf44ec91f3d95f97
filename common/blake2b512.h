#ifndef BLAKE2B512_H
#define BLAKE2B512_H

#include <QByteArray>

#include <memory>

struct evp_md_ctx_st;

// BLAKE2b-512 over bytes fed in pieces, as minisign hashes a file before signing it. One object
// hashes one stream; it may be moved to and used from any one thread at a time.
class Blake2b512
{
public:
    Blake2b512();
    ~Blake2b512();
    Blake2b512(const Blake2b512 &) = delete;
    Blake2b512 &operator=(const Blake2b512 &) = delete;

    void addData(const char *data, qint64 size);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    // The 64-byte digest of everything added; the object is spent afterwards. Empty when the
    // crypto library could not hash (it never can fail on a working installation).
    QByteArray result();

    static constexpr int Size = 64;

private:
    struct Free
    {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context;
    bool ok;
};

#endif // BLAKE2B512_H
