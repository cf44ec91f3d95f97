// Plans arbitrary bytes as a package straight from memory, which is where nearly every input
// ends; one the plan accepts is installed into a scratch application folder, then checked that
// nothing appeared outside it, no staging folder stayed behind, and a refusal left it untouched.
#include "fuzzsupport.h"
#include "install/packageinstaller.h"
#include "install/packageplan.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace fuzzsupport;

namespace {

std::unique_ptr<QTemporaryDir> root;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Entry names are UTF-8; libarchive converts them through the locale.
    std::setlocale(LC_ALL, "C.UTF-8");
    // Memory rather than the disk where there is one: the inflation bound still allows 100 times
    // the input to be written.
    root = std::make_unique<QTemporaryDir>(QDir("/dev/shm").exists()
                                                   ? QStringLiteral("/dev/shm/fuzz_package-XXXXXX")
                                                   : QDir::tempPath() + "/fuzz_package-XXXXXX");
    return root->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    PackagePlan plan;
    const bool planned = plan.read(&buffer, QStringLiteral("package.zip"));
    if (planned != (plan.refusal() == PackagePlan::Refusal::None)
        || planned != plan.errorString().isEmpty())
        fault("plan's answer, kind and reason disagree", plan.errorString());
    if (!planned)
        return 0;

    const QString app = root->filePath(QStringLiteral("app"));
    const QString packagePath = root->filePath(QStringLiteral("package.zip"));
    QDir(app).removeRecursively();
    QDir().mkpath(app + QStringLiteral("/updater-downloads"));
    QFile keep(app + QStringLiteral("/Morvane.exe"));
    if (!keep.open(QIODevice::WriteOnly) || keep.write("old program") != 11)
        fault("cannot prepare", app);
    keep.close();
    QFile package(packagePath);
    if (!package.open(QIODevice::WriteOnly)
        || package.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        fault("cannot write", packagePath);
    package.close();
    const QStringList before = listing(root->path());

    if (!package.open(QIODevice::ReadOnly))
        fault("cannot open", packagePath);
    PackageInstaller installer(&package, app);
    const bool installed = installer.install();
    if (installed != installer.errorString().isEmpty())
        fault("success and reason disagree", installer.errorString());

    const QStringList after = listing(root->path());
    for (const QString &path : after) {
        if (path != packagePath && path != app && !path.startsWith(app + QLatin1Char('/')))
            fault("written outside the target", path);
        if (path.contains(QLatin1String("/.updater-staging-")))
            fault("staging folder left behind", path);
    }
    if (!installed && after != before)
        fault("refused, yet the target changed", installer.errorString());
    return 0;
}
