#include "download/dispositionname.h"

#include "common/devicename.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// NTFS and most file systems take 255 units; UTF-8 bytes is the stricter count.
constexpr int maxNameBytes = 255;
// A longer header holds no name worth having (percent-encoded, a name of 255 bytes needs at
// most 765), and the greedy match must not run over megabytes.
constexpr int maxHeaderBytes = 4096;

} // namespace

QString DispositionName::fromHeader(const QByteArray &value)
{
    static const QRegularExpression quoted(QStringLiteral("(.*)filename=\"(?<filename>.*)\""));
    static const QRegularExpression extended(
            QStringLiteral("filename\\*\\s*=\\s*UTF-8'[^']*'([^;\\s]+)"),
            QRegularExpression::CaseInsensitiveOption);

    if (value.size() > maxHeaderBytes)
        return QString();
    // Read up to the first zero byte, as a C string would be.
    const QString text = QString::fromUtf8(QByteArray::fromPercentEncoding(value).constData());
    const QString name = usable(quoted.match(text).captured(QStringLiteral("filename")));
    if (!name.isEmpty())
        return name;
    const QString encoded = extended.match(QString::fromLatin1(value)).captured(1);
    return usable(QUrl::fromPercentEncoding(encoded.toLatin1()));
}

QString DispositionName::usable(const QString &name)
{
    static const QRegularExpression separator(QStringLiteral("[/\\\\:]"));
    static const QRegularExpression forbidden(QStringLiteral("[\\x{0}-\\x{1f}\\x{7f}<>\"|?*]"));
    const QString last = name.mid(name.lastIndexOf(separator) + 1);
    // A trailing dot also refuses "." and "..".
    if (last.isEmpty() || last.toUtf8().size() > maxNameBytes || last.contains(forbidden)
        || last.endsWith(QLatin1Char('.')) || last.endsWith(QLatin1Char(' '))
        || DeviceName::isReserved(last))
        return QString();
    return last;
}
