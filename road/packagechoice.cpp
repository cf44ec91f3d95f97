#include "road/packagechoice.h"

#include "road/versionrule.h"

#include <QCoreApplication>

PackageChoice::PackageChoice(const Manifest &manifest, const QString &installed)
{
    if (!VersionRule::isUsable(manifest.latestVersion))
        qWarning("latest version not usable: \"%s\"", qPrintable(manifest.latestVersion.left(40)));
    offered = VersionRule::offersUpdate(installed, manifest.latestVersion, &needFull);
    if (needFull) {
        kind = PackageKind::Full;
        url = manifest.fullUrl;
    } else if (!manifest.deltaUrl.isEmpty() && installed == manifest.deltaFrom) {
        kind = PackageKind::Delta;
        url = manifest.deltaUrl;
    } else {
        url = manifest.downloadUrl;
    }
    const auto tr = [](const char *text) { return QCoreApplication::translate("UpdateRun", text); };
    summary = offered ? tr("current version is : v") + installed + tr("\nlatest version : v")
                    + manifest.latestVersion + tr("\nmodify time : ") + manifest.modifyTime
                    + tr("\nchangelog: ") + manifest.changelog
                    + tr("\nclick update button to update")
                      : tr("current software is up-to-date") + tr("\nversion: v") + installed
                    + tr("\nclick cancel button to quit");
}
