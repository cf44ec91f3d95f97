#include "benchplatform.h"

#include <windows.h>

namespace bench {

// Qt names no thread on Windows, so there is nothing to tell threads apart by.
QMap<QString, double> threadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return {};
    // 100 ns units.
    const auto seconds = [](const FILETIME &time) {
        return double((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return { { QStringLiteral("process user"), seconds(user) },
             { QStringLiteral("process system"), seconds(kernel) } };
}

// Left out: Windows writes a whole volume back only for administrators (FlushFileBuffers on the
// volume), and a removed file leaves nothing to write back.
void writeBackDirtyData()
{ }

} // namespace bench
