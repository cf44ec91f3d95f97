#include "install/deltaplan.h"

#include "install/archivereader.h"

#include <QFileInfo>
#include <QIODevice>

#include <utility>

namespace {

const QString indexName = QStringLiteral("delta.json");

} // namespace

bool DeltaPlan::read(QIODevice *package, const QString &name, const QString &target)
{
    *this = DeltaPlan();
    PackagePlan entries;
    if (!entries.read(package, name))
        return fail(entries.errorString());
    if (!readIndex(package) || !matchEntries(entries))
        return false;
    for (const DeltaIndex::File &file : deltaIndex.files()) {
        if (!made.addFile(file.path, file.executable ? 0755 : 0644, file.size))
            return fail(made.errorString());
    }
    return checkInflation(package->size(), target);
}

// A patch makes its result from the delta and the installed file together, so the rule that
// holds a zip to its own size holds a delta to its size and that of the files it patches. The
// installed files are only measured here; their digests are checked as each one is patched.
bool DeltaPlan::checkInflation(qint64 packageSize, const QString &target)
{
    qint64 source = packageSize;
    for (const DeltaIndex::File &file : deltaIndex.files()) {
        const QFileInfo installed(target + QLatin1Char('/') + file.path);
        if (file.patch && installed.isFile())
            source += installed.size();
    }
    if (made.declaredTotal() > PackagePlan::inflationBound(source))
        return fail(QStringLiteral("delta inflates too far: %1 bytes declared")
                            .arg(made.declaredTotal()));
    return true;
}

// The index is the first entry, read whole but never past its bound.
bool DeltaPlan::readIndex(QIODevice *package)
{
    QByteArray json;
    if (!ArchiveReader::readFirstEntry(package, indexName, DeltaIndex::maxBytes, &json))
        return fail(QStringLiteral("delta package has no readable delta.json"));
    if (!deltaIndex.read(std::move(json)))
        return fail(deltaIndex.errorString());
    return true;
}

bool DeltaPlan::matchEntries(const PackagePlan &package)
{
    const QVector<DeltaIndex::File> &files = deltaIndex.files();
    const QVector<PackagePlan::Entry> &entries = package.entries();
    if (entries.size() != files.size() + 1)
        return fail(QStringLiteral("delta.json lists %1 files, the package holds %2")
                            .arg(files.size())
                            .arg(entries.size() - 1));
    for (int i = 0; i < files.size(); ++i) {
        const PackagePlan::Entry &entry = entries.at(i + 1);
        if (entry.isDir || entry.path != files.at(i).path)
            return fail(QStringLiteral("delta.json does not name entry: ") + entry.path);
        if (!files.at(i).patch && entry.size != files.at(i).size)
            return fail(QStringLiteral("new file of another size than listed: ") + entry.path);
    }
    return true;
}

bool DeltaPlan::fail(const QString &why)
{
    if (error.isEmpty())
        error = why;
    return false;
}

QString DeltaPlan::errorString() const
{
    return error;
}

const DeltaIndex &DeltaPlan::index() const
{
    return deltaIndex;
}

const PackagePlan &DeltaPlan::result() const
{
    return made;
}
