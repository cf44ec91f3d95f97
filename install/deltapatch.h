#ifndef DELTAPATCH_H
#define DELTAPATCH_H

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

typedef struct ZSTD_DCtx_s ZSTD_DCtx;

// Decodes one zstd frame made with --patch-from against the installed file's bytes (the base),
// streamed in pieces as it comes out of the delta package. The frame is the publisher's claim
// and may be hostile: it must be one plain zstd frame, its window no more than 2^31 bytes and
// never more than its header declares or the files need, and it may not write a byte past the
// result's declared size. Memory: libzstd's window buffer and a block, whatever arrives.
class DeltaPatch
{
public:
    enum class Error {
        NoError,
        NotAFrame, // no zstd frame header, a skippable frame, or a second frame after the first
        WindowTooLarge, // the header asks for more window than allowed
        Damaged, // libzstd refuses the frame, or it ends early
        TooLong, // the frame writes past the declared size
        TooShort, // the frame ended before the declared size
        WriteFailed, // the sink refused
    };
    using Sink = std::function<bool(const char *data, qint64 size)>;

    // base (baseSize bytes, may be null when 0) outlives the patch; declaredSize is the size the
    // result must have.
    DeltaPatch(const char *base, qint64 baseSize, qint64 declaredSize);
    ~DeltaPatch();
    DeltaPatch(const DeltaPatch &) = delete;
    DeltaPatch &operator=(const DeltaPatch &) = delete;

    // Takes the next piece of the frame and hands what it decodes to sink, in order. False at
    // the first fault; the patch then takes nothing more.
    bool feed(const char *data, qint64 size, const Sink &sink);
    // After the last piece: true when the frame ended, exactly at the declared size.
    bool finish();

    Error error() const;
    QString errorString() const;

private:
    enum class Stage { Header, Body, Ended, Failed };

    bool gatherHeader(const char *&data, qint64 &size);
    bool checkHeader();
    bool decode(const char *data, qint64 size, const Sink &sink);
    bool fail(Error kind, const QString &text);

    ZSTD_DCtx *context;
    const char *base;
    qint64 baseSize;
    qint64 declaredSize;
    qint64 produced = 0;
    Stage stage = Stage::Header;
    // The frame header, gathered whole before libzstd sees a byte: 18 bytes at most.
    char header[18];
    qint64 headerFill = 0;
    std::vector<char> output;
    Error kind = Error::NoError;
    QString text;
};

#endif // DELTAPATCH_H
