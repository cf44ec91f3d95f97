#include "install/archivecopy.h"

#include "install/archivereader.h"

#include <QIODevice>

#include <utility>

bool ArchiveCopy::read(QIODevice *package, const QString &name)
{
    error.clear();
    listed = RemovalList();
    if (!entries.read(package, name))
        return fail(entries.errorString());
    // Unpacked as a zip, a delta would leave its index and raw patch frames where the
    // program's files were.
    const QString first = entries.entries().value(0).path;
    if (first.compare(QLatin1String("delta.json"), Qt::CaseInsensitive) == 0)
        return fail(QStringLiteral("a delta package is not an incremental package: ") + name);
    if (!entries.hasRemovalList())
        return true;
    QByteArray json;
    if (!ArchiveReader::readFirstEntry(package, RemovalList::entryName(), RemovalList::maxBytes,
                                       &json))
        return fail(QStringLiteral("package has no readable removal list: ") + name);
    return listed.read(std::move(json)) || fail(listed.errorString());
}

const PackagePlan &ArchiveCopy::plan() const
{
    return entries;
}

int ArchiveCopy::leadingEntries() const
{
    return entries.hasRemovalList() ? 1 : 0;
}

const RemovalList &ArchiveCopy::removals() const
{
    return listed;
}

bool ArchiveCopy::begin(int)
{
    return true;
}

bool ArchiveCopy::add(const char *data, qint64 size, const Sink &write)
{
    return write(data, size);
}

bool ArchiveCopy::end()
{
    return true;
}

QString ArchiveCopy::errorString() const
{
    return error;
}

bool ArchiveCopy::fail(const QString &why)
{
    if (error.isEmpty())
        error = why;
    return false;
}
