// The Content-Disposition name rule, from arbitrary header values. Whatever the value, the name
// must be empty or one plain file name that the rule itself accepts unchanged.
#include "download/dispositionname.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const QString &name)
{
    static const QRegularExpression separator(QStringLiteral("[/\\\\:\\x{0}]"));
    if (name.isEmpty())
        return;
    if (name.contains(separator) || name == QLatin1String("..")
        || DispositionName::usable(name) != name)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray value = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     int(qMin<size_t>(size, 1 << 16)));
    check(DispositionName::fromHeader(value));
    check(DispositionName::usable(QString::fromUtf8(value)));
    return 0;
}
