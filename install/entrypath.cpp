#include "install/entrypath.h"

#include "common/devicename.h"

#include <QStringView>

namespace EntryPath {

namespace {

bool isForbiddenCharacter(QChar c)
{
    switch (c.unicode()) {
    case '<':
    case '>':
    case ':': // also drive letters and alternate data streams
    case '"':
    case '|':
    case '?':
    case '*':
    case '\\':
        return true;
    default:
        // Control characters, and U+FFFD, which stands for bytes that were not UTF-8.
        return c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0xfffd;
    }
}

// Whether name has the shape of a short 8.3 name that Windows makes up for a long one
// ("MORVAN~1.EXE"): on a volume with short names it may open another file than its own.
bool isShortNameForm(const QString &name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView base = QStringView(name).left(dot < 0 ? name.size() : dot);
    const int tilde = base.lastIndexOf(QLatin1Char('~'));
    if (tilde < 0 || tilde + 1 == base.size() || base.size() > 8
        || (dot >= 0 && name.size() - dot - 1 > 3))
        return false;
    for (const QChar c : base.mid(tilde + 1)) {
        if (!c.isDigit())
            return false;
    }
    return true;
}

} // namespace

QString problem(const QString &path)
{
    if (path.size() > maxLength)
        return QStringLiteral("path too long");
    int levels = 0;
    int start = 0;
    while (start <= path.size()) {
        int end = path.indexOf(QLatin1Char('/'), start);
        if (end < 0)
            end = path.size();
        if (++levels > maxLevels)
            return QStringLiteral("path too deep");
        const QString name = path.mid(start, end - start);
        // Besides "." and "..", a trailing dot or space is trimmed by Windows, and the name
        // could then meet another entry's.
        if (name.isEmpty() || name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))
            || isShortNameForm(name))
            return QStringLiteral("unsafe entry name");
        if (name.size() > maxNameLength)
            return QStringLiteral("name too long");
        for (const QChar c : name) {
            if (isForbiddenCharacter(c))
                return QStringLiteral("unsafe entry name");
        }
        if (DeviceName::isReserved(name))
            return QStringLiteral("reserved device name");
        start = end + 1;
    }
    return QString();
}

} // namespace EntryPath
