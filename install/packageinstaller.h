#ifndef PACKAGEINSTALLER_H
#define PACKAGEINSTALLER_H

#include <QString>

// Unpacks an incremental zip package over a target directory, all or nothing: every entry is
// checked before anything is written, and a failure part-way leaves the directory as it was.
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
