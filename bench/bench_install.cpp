// Installs one package into a folder with the updater's installer, as bench/run times it against
// bsdtar and unzip; prints the wall time and the peak resident memory of the whole process.
//
//     bench_install PACKAGE TARGET
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
        std::fprintf(stderr, "usage: bench_install PACKAGE TARGET\n");
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    PackageInstaller installer(arguments.at(1), arguments.at(2));
    const bool installed = installer.install();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!installed) {
        std::fprintf(stderr, "bench_install: %s\n", qPrintable(installer.errorString()));
        return 1;
    }
    std::printf("%.6f %lld\n", seconds, static_cast<long long>(testplatform::peakKiB()));
    return 0;
}
