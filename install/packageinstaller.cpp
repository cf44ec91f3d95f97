// Placeholder so the tree builds; the package installer replaces it.
#include "install/packageinstaller.h"

PackageInstaller::PackageInstaller(const QString &packagePath, const QString &targetDir)
    : packagePath(packagePath)
    , targetDir(targetDir)
{
}
bool PackageInstaller::install() { return false; }
QString PackageInstaller::errorString() const { return error; }
