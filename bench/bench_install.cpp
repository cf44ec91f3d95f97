// Installs one package into a folder with the updater's installer, as bench/run times it against
// bsdtar and unzip, or a delta package over the release it was made against, timed against the
// incremental zip; prints the wall time and the peak resident memory of the whole process.
//
//     bench_install [--delta] PACKAGE TARGET
#include "install/packageinstaller.h"
#include "testplatform.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    const bool delta = arguments.size() == 4 && arguments.at(1) == QLatin1String("--delta");
    if (delta)
        arguments.removeAt(1);
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench_install [--delta] PACKAGE TARGET\n");
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    PackageInstaller installer(arguments.at(1), arguments.at(2),
                               delta ? PackageKind::Delta : PackageKind::Incremental);
    const bool installed = installer.install();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!installed) {
        std::fprintf(stderr, "bench_install: %s\n", qPrintable(installer.errorString()));
        return 1;
    }
    std::printf("%.6f %lld\n", seconds, static_cast<long long>(testplatform::peakKiB()));
    return 0;
}
