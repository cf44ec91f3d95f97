#include "install/deltapatch.h"

// The frame header's parser and its limits are in libzstd's static-linking section; Debian's
// shared libzstd exports them too.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

namespace {

// make-release refuses files of 2 GiB or more, and zstd's own limit on 64 bits is 2^31 as well.
constexpr quint64 maxWindow = quint64(1) << 31;
// The publisher's frames are single segments, their window the new file's size; a larger file's
// --long=N window is at most twice the larger of the two files. Small files may still get level
// 19's own window, 8 MiB, which keeps what a tiny hostile frame makes libzstd reserve small.
constexpr quint64 plainWindow = quint64(1) << 23;

static_assert(ZSTD_FRAMEHEADERSIZE_MAX == 18, "DeltaPatch::header holds a whole frame header");

QString zstdReason(size_t code)
{
    return QStringLiteral("damaged patch: %1").arg(QString::fromLatin1(ZSTD_getErrorName(code)));
}

} // namespace

DeltaPatch::DeltaPatch(const char *base, qint64 baseSize, qint64 declaredSize)
    : context(ZSTD_createDCtx())
    , base(base)
    , baseSize(std::max<qint64>(baseSize, 0))
    , declaredSize(std::max<qint64>(declaredSize, 0))
{ }

DeltaPatch::~DeltaPatch()
{
    ZSTD_freeDCtx(context);
}

bool DeltaPatch::feed(const char *data, qint64 size, const Sink &sink)
{
    if (stage == Stage::Failed)
        return false;
    if (size <= 0)
        return true;
    if (stage == Stage::Ended)
        return fail(Error::NotAFrame, QStringLiteral("not a zstd frame: bytes after its end"));
    if (stage == Stage::Header) {
        if (!gatherHeader(data, size))
            return false;
        if (stage == Stage::Header)
            return true;
        if (!decode(header, headerFill, sink))
            return false;
    }
    return decode(data, size, sink);
}

// Copies no more than the header needs, as ZSTD_getFrameHeader asks for it piece by piece, so
// what follows the header is decoded straight from the caller's data.
bool DeltaPatch::gatherHeader(const char *&data, qint64 &size)
{
    ZSTD_frameHeader frame;
    for (;;) {
        const size_t needed = ZSTD_getFrameHeader(&frame, header, size_t(headerFill));
        if (ZSTD_getErrorCode(needed) == ZSTD_error_prefix_unknown)
            return fail(Error::NotAFrame, QStringLiteral("not a zstd frame"));
        if (ZSTD_isError(needed))
            return fail(Error::Damaged, zstdReason(needed));
        if (needed == 0)
            return checkHeader();
        if (needed > sizeof header)
            return fail(Error::Damaged, QStringLiteral("damaged patch: frame header too long"));
        if (size == 0)
            return true;
        const qint64 take = std::min<qint64>(qint64(needed) - headerFill, size);
        std::copy(data, data + take, header + headerFill);
        headerFill += take;
        data += take;
        size -= take;
    }
}

// libzstd is held to the window the header declares: the smallest power of two covering it.
bool DeltaPatch::checkHeader()
{
    ZSTD_frameHeader frame;
    ZSTD_getFrameHeader(&frame, header, size_t(headerFill));
    if (frame.frameType == ZSTD_skippableFrame)
        return fail(Error::NotAFrame, QStringLiteral("not a zstd frame: a skippable frame"));
    const quint64 allowed
            = std::max<quint64>(plainWindow, 2 * quint64(std::max(declaredSize, baseSize)));
    if (frame.windowSize > maxWindow || frame.windowSize > allowed)
        return fail(Error::WindowTooLarge,
                    QStringLiteral("zstd window too large: %1 bytes").arg(frame.windowSize));
    if (frame.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN
        && frame.frameContentSize != quint64(declaredSize))
        return frame.frameContentSize > quint64(declaredSize)
                ? fail(Error::TooLong, QStringLiteral("patch longer than declared"))
                : fail(Error::TooShort, QStringLiteral("patch shorter than declared"));
    if (!context)
        return fail(Error::Damaged, QStringLiteral("damaged patch: out of memory"));
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < 31 && (quint64(1) << log) < frame.windowSize)
        ++log;
    size_t result = ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, log);
    if (!ZSTD_isError(result) && baseSize > 0)
        result = ZSTD_DCtx_refPrefix(context, base, size_t(baseSize));
    if (ZSTD_isError(result))
        return fail(Error::Damaged, zstdReason(result));
    output.resize(ZSTD_DStreamOutSize());
    stage = Stage::Body;
    return true;
}

// The output room never reaches more than one byte past the declared size, so a frame that
// writes too much is caught at its first extra byte; the sink gets every byte up to the declared
// size and nothing past it.
bool DeltaPatch::decode(const char *data, qint64 size, const Sink &sink)
{
    ZSTD_inBuffer in { data, size_t(size), 0 };
    for (;;) {
        const qint64 room = std::min<qint64>(qint64(output.size()), declaredSize - produced + 1);
        ZSTD_outBuffer out { output.data(), size_t(room), 0 };
        const size_t result = ZSTD_decompressStream(context, &out, &in);
        if (ZSTD_isError(result))
            return fail(Error::Damaged, zstdReason(result));
        const qint64 piece = std::min<qint64>(qint64(out.pos), declaredSize - produced);
        if (piece > 0 && !sink(output.data(), piece))
            return fail(Error::WriteFailed, QStringLiteral("cannot write"));
        produced += piece;
        if (qint64(out.pos) > piece)
            return fail(Error::TooLong, QStringLiteral("patch longer than declared"));
        if (result == 0) {
            stage = Stage::Ended;
            return in.pos == in.size
                    || fail(Error::NotAFrame,
                            QStringLiteral("not a zstd frame: bytes after its end"));
        }
        if (in.pos == in.size && out.pos < out.size)
            return true;
    }
}

bool DeltaPatch::finish()
{
    if (stage == Stage::Failed)
        return false;
    if (stage == Stage::Header && headerFill == 0)
        return fail(Error::NotAFrame, QStringLiteral("not a zstd frame"));
    if (stage != Stage::Ended)
        return fail(Error::Damaged, QStringLiteral("damaged patch: the frame is cut short"));
    if (produced != declaredSize)
        return fail(Error::TooShort, QStringLiteral("patch shorter than declared"));
    return true;
}

bool DeltaPatch::fail(Error error, const QString &reason)
{
    stage = Stage::Failed;
    if (kind == Error::NoError) {
        kind = error;
        text = reason;
    }
    return false;
}

DeltaPatch::Error DeltaPatch::error() const
{
    return kind;
}

QString DeltaPatch::errorString() const
{
    return text;
}
