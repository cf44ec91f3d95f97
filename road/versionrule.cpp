#include "road/versionrule.h"

#include <QStringRef>
#include <QVector>

#include <algorithm>
#include <vector>

namespace {

// The parts of a strict version, or false when text is not one. Nine digits always fit in 32
// bits, which keeps the comparison a plain one and the scan a single pass.
bool strictParts(const QString &text, std::vector<quint32> *parts)
{
    const int maxDigits = 9;
    quint32 value = 0;
    int digits = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('.')) {
            if (digits == 0)
                return false;
            parts->push_back(value);
            value = 0;
            digits = 0;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++digits > maxDigits)
                return false;
            value = value * 10 + quint32(c.unicode() - '0');
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    parts->push_back(value);
    return true;
}

} // namespace

bool VersionRule::offersUpdate(const QString &local, const QString &latest, bool *needFull)
{
    if (needFull) {
        // References into the text: a version of millions of parts costs no string per part.
        const QVector<QStringRef> parts = local.splitRef(QLatin1Char('.'));
        *needFull = std::all_of(parts.cbegin(), parts.cend(),
                                [](const QStringRef &part) { return part == QLatin1String("0"); });
    }
    return isNewer(local, latest);
}

bool VersionRule::isUsable(const QString &text)
{
    std::vector<quint32> parts;
    return strictParts(text, &parts);
}

bool VersionRule::isNewer(const QString &local, const QString &latest)
{
    std::vector<quint32> localParts;
    std::vector<quint32> latestParts;
    if (!strictParts(local, &localParts) || !strictParts(latest, &latestParts))
        return false;
    const size_t count = std::max(localParts.size(), latestParts.size());
    for (size_t i = 0; i < count; ++i) {
        const quint32 a = i < localParts.size() ? localParts[i] : 0;
        const quint32 b = i < latestParts.size() ? latestParts[i] : 0;
        if (a != b)
            return b > a;
    }
    return false;
}
