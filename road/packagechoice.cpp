#include "road/packagechoice.h"

#include "road/versionrule.h"

PackageChoice::PackageChoice(const Manifest &manifest, const QString &installed)
{
    if (!VersionRule::isUsable(manifest.latestVersion))
        qWarning("latest version not usable: \"%s\"",
                 qPrintable(manifest.latestVersion.left(40)));
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
}
