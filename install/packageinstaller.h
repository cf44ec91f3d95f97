#ifndef PACKAGEINSTALLER_H
#define PACKAGEINSTALLER_H

#include <QString>

// Unpacks an incremental zip package over a target directory, all or nothing: every entry is read
// and checked before anything in the directory changes, and a failure part-way puts back what was
// already replaced.
class PackageInstaller
{
public:
    PackageInstaller(const QString &packagePath, const QString &targetDir);

    // True when every entry of the package now lies in the target directory.
    bool install();
    // Why the last install() refused or failed, for the log; empty after success.
    QString errorString() const;

private:
    QString packagePath;
    QString targetDir;
    QString error;
};

#endif // PACKAGEINSTALLER_H
