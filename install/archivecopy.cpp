#include "install/archivecopy.h"

#include <QIODevice>

bool ArchiveCopy::read(QIODevice *package, const QString &name)
{
    error.clear();
    if (!entries.read(package, name))
        return fail(entries.errorString());
    // Unpacked as a zip, a delta would leave its index and raw patch frames where the
    // program's files were.
    const QString first = entries.entries().value(0).path;
    if (first.compare(QLatin1String("delta.json"), Qt::CaseInsensitive) == 0)
        return fail(QStringLiteral("a delta package is not an incremental package: ") + name);
    return true;
}

const PackagePlan &ArchiveCopy::plan() const
{
    return entries;
}

int ArchiveCopy::leadingEntries() const
{
    return 0;
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
