#include "install/removallist.h"

#include "install/entrypath.h"
#include "install/packageplan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

constexpr int digestBytes = 64;

} // namespace

QString RemovalList::entryName()
{
    return QStringLiteral(".removed.json");
}

QByteArray RemovalList::digestOf(const QJsonValue &value)
{
    const QString text = value.toString();
    if (text.size() != 2 * digestBytes)
        return QByteArray();
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9'))
              || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return QByteArray();
    }
    return QByteArray::fromHex(text.toLatin1());
}

bool RemovalList::read(QByteArray json)
{
    *this = RemovalList();
    if (json.size() > maxBytes)
        return fail(QStringLiteral("removal list too large"), QString::number(json.size()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    json = QByteArray();
    const QJsonValue removed = document.object().value(QLatin1String("removed"));
    if (!document.isObject() || !removed.isArray())
        return fail(QStringLiteral("removal list is no JSON object with a list"),
                    parseError.errorString());
    const QJsonArray array = removed.toArray();
    if (array.size() > maxItems)
        return fail(QStringLiteral("removal list too long"), QString::number(array.size()));
    for (const QJsonValue &value : array) {
        if (!readItem(value))
            return false;
    }
    return true;
}

bool RemovalList::readItem(const QJsonValue &value)
{
    const QString path = value.toObject().value(QLatin1String("path")).toString();
    const QJsonValue versions = value.toObject().value(QLatin1String("blake2b"));
    const QJsonArray array = versions.toArray();
    if (!versions.isArray() || array.isEmpty() || array.size() > maxDigests)
        return fail(QStringLiteral("removal without usable digests"), path);
    QVector<QByteArray> digests;
    for (const QJsonValue &version : array) {
        digests.append(digestOf(version));
        if (digests.constLast().isEmpty())
            return fail(QStringLiteral("removal without usable digests"), path);
    }
    return add(path, digests);
}

bool RemovalList::add(const QString &path, const QVector<QByteArray> &digests)
{
    const QString problem = EntryPath::problem(path);
    if (path.isEmpty() || !problem.isEmpty())
        return fail(problem.isEmpty() ? QStringLiteral("removal without a path") : problem, path);
    if (PackagePlan::isProtected(path))
        return fail(QStringLiteral("removal in a protected folder"), path);
    if (listed.size() == maxItems)
        return fail(QStringLiteral("removal list too long"), QString::number(maxItems + 1));
    const QString key = path.toCaseFolded();
    if (keys.contains(key))
        return fail(QStringLiteral("removal listed twice"), path);
    keys.insert(key);
    listed.append({ path, digests });
    return true;
}

bool RemovalList::fail(const QString &why, const QString &subject)
{
    if (error.isEmpty())
        error = why + QLatin1String(": ") + subject.left(200);
    return false;
}

QString RemovalList::errorString() const
{
    return error;
}
