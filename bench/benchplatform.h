#ifndef BENCHPLATFORM_H
#define BENCHPLATFORM_H

// What the benchmarks ask of the system itself, one source per system (benchplatform_unix.cpp,
// benchplatform_win.cpp).

#include <QMap>
#include <QString>

namespace bench {

// CPU seconds that this process has used so far, in user mode and in the kernel. Where the
// system names threads, by thread name ("QThread user", "QThread system"; threads of the same
// name summed), else for the whole process ("process user", "process system").
QMap<QString, double> threadCpuSeconds();

// Writes back what the system still holds dirty, so that the next run starts with a quiet disk.
void writeBackDirtyData();

} // namespace bench

#endif // BENCHPLATFORM_H
