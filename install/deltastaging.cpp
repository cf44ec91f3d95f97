#include "install/deltastaging.h"

#include "common/blake2b512.h"

#include <QFileInfo>

DeltaStaging::DeltaStaging(const QString &target)
    : target(target)
{ }

DeltaStaging::~DeltaStaging()
{
    letGo();
}

bool DeltaStaging::read(QIODevice *package, const QString &name)
{
    error.clear();
    return delta.read(package, name, target) || fail(delta.errorString());
}

const PackagePlan &DeltaStaging::plan() const
{
    return delta.result();
}

int DeltaStaging::leadingEntries() const
{
    return 1;
}

const RemovalList &DeltaStaging::removals() const
{
    return delta.index().removals();
}

bool DeltaStaging::begin(int at)
{
    letGo();
    current = at;
    const DeltaIndex::File &file = delta.index().files().at(at);
    digest = std::make_unique<Blake2b512>();
    if (!file.patch)
        return true;
    // The installed file is read through a mapping: it is hashed and then patched from the very
    // same bytes. A link is not the file the release installed.
    const QString path = target + QLatin1Char('/') + file.path;
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return fail(QStringLiteral("installed file missing"));
    base.setFileName(path);
    if (!base.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("installed file unreadable: ") + base.errorString());
    const qint64 size = base.size();
    if (size > DeltaIndex::maxFileSize)
        return fail(QStringLiteral("installed file too large"));
    if (size > 0) {
        baseBytes = base.map(0, size);
        if (!baseBytes)
            return fail(QStringLiteral("installed file unreadable: ") + base.errorString());
    }
    const char *bytes = reinterpret_cast<const char *>(baseBytes);
    Blake2b512 installed;
    installed.addData(bytes, size);
    if (installed.result() != file.oldDigest)
        return fail(QStringLiteral("installed file differs from the one the delta patches"));
    patch = std::make_unique<DeltaPatch>(bytes, size, file.size);
    return true;
}

bool DeltaStaging::add(const char *data, qint64 size, const Sink &write)
{
    const auto hashed = [this, &write](const char *piece, qint64 length) {
        digest->addData(piece, length);
        return write(piece, length);
    };
    if (!patch)
        return hashed(data, size);
    if (patch->feed(data, size, hashed))
        return true;
    return fail(patch->errorString());
}

bool DeltaStaging::end()
{
    bool ok = true;
    if (patch && !patch->finish())
        ok = fail(patch->errorString());
    else if (digest->result() != delta.index().files().at(current).digest)
        ok = fail(QStringLiteral("result differs from the release's"));
    letGo();
    return ok;
}

QString DeltaStaging::errorString() const
{
    return error;
}

bool DeltaStaging::fail(const QString &why)
{
    if (error.isEmpty())
        error = why;
    return false;
}

// On Windows a mapped file can be neither replaced nor renamed: the mapping ends with each file.
void DeltaStaging::letGo()
{
    patch.reset();
    if (baseBytes)
        base.unmap(baseBytes);
    baseBytes = nullptr;
    base.close();
}
