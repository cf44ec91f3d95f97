#include "road/manifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

namespace {

const QString ellipsis = QStringLiteral("\u2026");

// The first n characters of text, one fewer where n would split a surrogate pair.
QString head(const QString &text, int from, int n)
{
    if (n < text.size() - from && n > 0 && text.at(from + n).isLowSurrogate())
        --n;
    return text.mid(from, n);
}

// At most maxLines lines of at most maxLine characters and maxTotal characters in all; what is
// cut is marked, so a reader knows there was more.
QString cutForDisplay(const QString &text, int maxTotal, int maxLines, int maxLine)
{
    QString shown;
    int lines = 0;
    int start = 0;
    bool cut = false;
    while (start <= text.size()) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        if (lines == maxLines || shown.size() >= maxTotal) {
            cut = true;
            break;
        }
        QString line = head(text, start, qMin(end - start, maxLine));
        if (end - start > maxLine)
            line += ellipsis;
        if (lines > 0)
            shown += QLatin1Char('\n');
        shown += line;
        ++lines;
        start = end + 1;
    }
    if (shown.size() > maxTotal) {
        shown = head(shown, 0, maxTotal);
        cut = true;
    }
    if (cut)
        shown += ellipsis;
    return shown;
}

// Only the one form make-release writes, 2026-12-01T00:00:00Z: a time in another zone or
// without one could be read two ways. Invalid otherwise.
QDateTime utcTime(const QJsonValue &value)
{
    static const QRegularExpression form(
            QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$"));
    const QString text = value.toString();
    if (text.size() != 20 || !form.match(text).hasMatch())
        return QDateTime();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    // Qt takes 24:00:00 as the next midnight; the round trip refuses it.
    if (!time.isValid() || time.timeSpec() != Qt::UTC || time.toString(Qt::ISODate) != text)
        return QDateTime();
    return time;
}

} // namespace

Manifest::Status Manifest::read(const QByteArray &body, const QString &platformKey)
{
    error.clear();
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (doc.isNull()) {
        error = QStringLiteral("not a JSON document");
        return Status::NotJson;
    }

    // Missing members and members of other types read as empty values.
    const QJsonValue entryValue
            = doc.object().value(QLatin1String("updates")).toObject().value(platformKey);
    const QJsonObject entry = entryValue.toObject();
    const auto text
            = [&entry](const char *key) { return entry.value(QLatin1String(key)).toString(); };
    const QString full = text("full-url");
    const QString download = text("download-url");
    const QString latest = text("latest-version");
    if (latest.size() > maxVersionCharacters) {
        error = QStringLiteral("latest-version has %1 characters, more than %2")
                        .arg(latest.size())
                        .arg(maxVersionCharacters);
        return Status::Unusable;
    }
    if (qMax(full.size(), download.size()) > maxUrlCharacters) {
        error = QStringLiteral("a package address has more than %1 characters")
                        .arg(maxUrlCharacters);
        return Status::Unusable;
    }

    hasEntry = entryValue.isObject();
    fullUrl = full;
    changelog = cutForDisplay(text("changelog"), maxChangelogCharacters, maxChangelogLines,
                              maxLineCharacters);
    downloadUrl = download;
    latestVersion = latest;
    modifyTime = cutForDisplay(text("modify-time"), maxModifyTimeCharacters, 1,
                               maxModifyTimeCharacters);
    // The delta only saves download time: values past the bounds leave it out, not the update.
    deltaUrl = text("delta-url");
    deltaFrom = text("delta-from");
    if (deltaUrl.size() > maxUrlCharacters || deltaFrom.size() > maxVersionCharacters
        || deltaUrl.isEmpty() || deltaFrom.isEmpty()) {
        deltaUrl.clear();
        deltaFrom.clear();
    }
    const QJsonValue expiry = doc.object().value(QLatin1String("expires"));
    hasExpires = !expiry.isUndefined();
    expires = utcTime(expiry);
    return Status::Read;
}
