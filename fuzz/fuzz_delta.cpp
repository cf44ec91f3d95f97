// Decodes arbitrary bytes as a patch of a delta package against a fixed installed file: the
// first two bytes give the declared size, the third the size of the pieces the frame arrives in,
// the rest is the frame. The sink may never receive a byte past the declared size, a success
// must give exactly that many, and the answer, the kind and the reason must agree. The whole
// input is also read as a delta.json and as a package's removal list, whose values must then hold
// within their bounds.
#include "fuzzsupport.h"
#include "install/deltaindex.h"
#include "install/deltapatch.h"
#include "install/entrypath.h"
#include "install/packageplan.h"
#include "install/removallist.h"

#include <QByteArray>

#include <algorithm>

using namespace fuzzsupport;

namespace {

// The base of the seed corpus too: `seq 1 1000 | sed 's/^/line /' | head -c 4096`.
QByteArray makeBase()
{
    QByteArray base;
    for (int line = 1; base.size() < 4096; ++line)
        base += "line " + QByteArray::number(line) + '\n';
    return base.left(4096);
}

const QByteArray installed = makeBase();

// What a list accepts, whichever way it came, is a file the install may name.
void checkRemovals(const RemovalList &list)
{
    if (list.items().size() > RemovalList::maxItems)
        fault("removal list holds too many files", QString::number(list.items().size()));
    for (const RemovalList::Item &item : list.items()) {
        if (!EntryPath::problem(item.path).isEmpty() || PackagePlan::isProtected(item.path)
            || item.digests.isEmpty() || item.digests.size() > RemovalList::maxDigests
            || std::any_of(item.digests.begin(), item.digests.end(),
                           [](const QByteArray &digest) { return digest.size() != 64; }))
            fault("removal list accepted a file out of bounds", item.path);
    }
}

// Also read as an index: a refusal says why, and what is accepted holds within the bounds.
void readIndex(const uint8_t *data, size_t size)
{
    DeltaIndex index;
    const bool read
            = index.read(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (!read && index.errorString().isEmpty())
        fault("index refused without a reason", QString());
    if (!read)
        return;
    if (index.files().size() > DeltaIndex::maxFiles)
        fault("index holds too many files", QString::number(index.files().size()));
    for (const DeltaIndex::File &file : index.files()) {
        if (file.path.isEmpty() || file.digest.size() != 64
            || (file.patch && file.oldDigest.size() != 64) || file.size < 0
            || file.size > DeltaIndex::maxFileSize)
            fault("index accepted a file out of bounds", file.path);
    }
    checkRemovals(index.removals());
    if (index.files().size() + index.removals().items().size() > DeltaIndex::maxFiles)
        fault("index holds too many files and removals", QString());
}

void readRemovals(const uint8_t *data, size_t size)
{
    RemovalList list;
    const bool read
            = list.read(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (!read && list.errorString().isEmpty())
        fault("removal list refused without a reason", QString());
    if (read)
        checkRemovals(list);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    readIndex(data, size);
    readRemovals(data, size);
    if (size < 3)
        return 0;
    const qint64 declared = data[0] | data[1] << 8;
    const qint64 piece = 1 + data[2];
    const char *frame = reinterpret_cast<const char *>(data) + 3;
    const qint64 frameSize = qint64(size) - 3;

    DeltaPatch patch(installed.constData(), installed.size(), declared);
    qint64 received = 0;
    const DeltaPatch::Sink counted = [&](const char *, qint64 bytes) {
        if (bytes <= 0)
            fault("empty piece handed to the sink", QString::number(bytes));
        received += bytes;
        if (received > declared)
            fault("sink received more than declared", QString::number(received));
        return true;
    };
    bool ok = true;
    for (qint64 at = 0; ok && at < frameSize; at += piece)
        ok = patch.feed(frame + at, std::min(piece, frameSize - at), counted);
    ok = ok && patch.finish();
    if (ok != (patch.error() == DeltaPatch::Error::NoError) || ok != patch.errorString().isEmpty())
        fault("answer, kind and reason disagree", patch.errorString());
    if (ok && received != declared)
        fault("accepted at another size than declared", QString::number(received));
    return 0;
}
