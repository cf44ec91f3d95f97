#include "common/devicename.h"

#include <QStringView>

namespace DeviceName {

bool isReserved(const QString &name)
{
    // Windows ignores the extension and trailing spaces before it: "con .txt" is CON.
    QStringView base(name);
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        base = base.left(dot);
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    static const char *const devices[]
            = { "CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$" };
    for (const char *device : devices) {
        if (base.compare(QLatin1String(device), Qt::CaseInsensitive) == 0)
            return true;
    }
    if (base.size() != 4)
        return false;
    const QStringView prefix = base.left(3);
    if (prefix.compare(QLatin1String("COM"), Qt::CaseInsensitive) != 0
        && prefix.compare(QLatin1String("LPT"), Qt::CaseInsensitive) != 0)
        return false;
    const ushort digit = base.at(3).unicode();
    // Digits and the superscripts one to three, which Windows also maps to ports.
    return (digit >= '0' && digit <= '9') || digit == 0xb9 || digit == 0xb2 || digit == 0xb3;
}

} // namespace DeviceName
