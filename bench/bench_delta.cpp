// Applies one delta package over an installed release with the updater's installer, as bench/run
// times it against installing the incremental zip over the same release; prints the wall time of
// the install and the peak resident memory of the whole process.
//
//     bench_delta PACKAGE TARGET
#include "install/packageinstaller.h"
#include "testplatform.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench_delta PACKAGE TARGET\n");
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    PackageInstaller installer(arguments.at(1), arguments.at(2));
    installer.setFormat(PackageInstaller::Format::Delta);
    const bool installed = installer.install();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!installed) {
        std::fprintf(stderr, "bench_delta: %s\n", qPrintable(installer.errorString()));
        return 1;
    }
    std::printf("%.6f %lld\n", seconds, static_cast<long long>(testplatform::peakKiB()));
    return 0;
}
