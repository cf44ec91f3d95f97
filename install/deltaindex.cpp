#include "install/deltaindex.h"

#include "install/entrypath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

namespace {

constexpr int maxVersionCharacters = 64;

bool isVersion(const QJsonValue &value)
{
    return value.isString() && !value.toString().isEmpty()
            && value.toString().size() <= maxVersionCharacters;
}

} // namespace

bool DeltaIndex::read(QByteArray json)
{
    *this = DeltaIndex();
    if (json.size() > maxBytes)
        return fail(QStringLiteral("delta index too large"), QString::number(json.size()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    json = QByteArray();
    if (!document.isObject())
        return fail(QStringLiteral("delta index is no JSON object"), parseError.errorString());
    const QJsonObject top = document.object();
    if (!isVersion(top.value(QLatin1String("from"))) || !isVersion(top.value(QLatin1String("to"))))
        return fail(QStringLiteral("delta index without usable versions"),
                    QStringLiteral("from, to"));
    fromVersion = top.value(QLatin1String("from")).toString();
    toVersion = top.value(QLatin1String("to")).toString();
    const QJsonValue files = top.value(QLatin1String("files"));
    if (!files.isArray() || files.toArray().isEmpty())
        return fail(QStringLiteral("delta index lists no files"), QStringLiteral("files"));
    const QJsonArray array = files.toArray();
    if (array.size() > maxFiles)
        return fail(QStringLiteral("delta index lists too many files"),
                    QString::number(array.size()));
    QSet<QString> keys;
    for (const QJsonValue &value : array) {
        QString path;
        if (!readFile(value, path))
            return false;
        // Windows compares names without case.
        const QString key = path.toCaseFolded();
        if (keys.contains(key))
            return fail(QStringLiteral("delta index lists a file twice"), path);
        keys.insert(key);
    }
    return true;
}

bool DeltaIndex::readFile(const QJsonValue &value, QString &path)
{
    const QJsonObject item = value.toObject();
    path = item.value(QLatin1String("path")).toString();
    const QString problem = EntryPath::problem(path);
    if (path.isEmpty() || !problem.isEmpty())
        return fail(problem.isEmpty() ? QStringLiteral("delta index file without a path") : problem,
                    path);
    const QString action = item.value(QLatin1String("action")).toString();
    if (action == QLatin1String("remove")) {
        const QByteArray oldDigest
                = RemovalList::digestOf(item.value(QLatin1String("old-blake2b")));
        if (oldDigest.isEmpty())
            return fail(QStringLiteral("delta index file without a usable digest"), path);
        return removed.add(path, { oldDigest }) || fail(removed.errorString(), path);
    }
    const bool patch = action == QLatin1String("patch");
    if (!patch && action != QLatin1String("add"))
        return fail(QStringLiteral("unknown delta action"), path);
    const QByteArray oldDigest = patch
            ? RemovalList::digestOf(item.value(QLatin1String("old-blake2b")))
            : QByteArray();
    const QByteArray digest = RemovalList::digestOf(item.value(QLatin1String("blake2b")));
    if (digest.isEmpty() || (patch && oldDigest.isEmpty()))
        return fail(QStringLiteral("delta index file without a usable digest"), path);
    // JSON numbers are doubles: a size must be a whole number in range before it is converted.
    const QJsonValue sizeValue = item.value(QLatin1String("size"));
    const double size = sizeValue.toDouble(-1);
    if (!sizeValue.isDouble() || size < 0 || size > double(maxFileSize) || size != qint64(size))
        return fail(QStringLiteral("delta index file with an unusable size"), path);
    const QJsonValue executable = item.value(QLatin1String("executable"));
    if (!executable.isBool())
        return fail(QStringLiteral("delta index file without its executable bit"), path);
    listed.append({ path, patch, oldDigest, digest, qint64(size), executable.toBool() });
    return true;
}

bool DeltaIndex::fail(const QString &why, const QString &subject)
{
    if (error.isEmpty())
        error = why + QLatin1String(": ") + subject.left(200);
    return false;
}

QString DeltaIndex::errorString() const
{
    return error;
}

QString DeltaIndex::from() const
{
    return fromVersion;
}

QString DeltaIndex::to() const
{
    return toVersion;
}

const QVector<DeltaIndex::File> &DeltaIndex::files() const
{
    return listed;
}
