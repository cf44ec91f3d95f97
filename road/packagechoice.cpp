#include "road/packagechoice.h"

#include "road/settings.h"
#include "road/versionrule.h"

PackageChoice::PackageChoice(const Manifest &manifest, const QString &installed)
{
    // A misspelled platform name or a version nothing can be compared with is the publisher's
    // mistake, not an installation that is up to date.
    if (!manifest.hasEntry || manifest.latestVersion.isEmpty()) {
        hasRelease = false;
        summary = tr("the update information has no release for %1").arg(platformKey);
        return;
    }
    if (!VersionRule::isUsable(manifest.latestVersion)) {
        qWarning("latest version not usable: \"%s\"", qPrintable(manifest.latestVersion.left(40)));
        hasRelease = false;
        summary = tr("the update information has an unusable version: %1")
                          .arg(manifest.latestVersion);
        return;
    }
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
    // In one pass: a "%1" in the publisher's changelog stays as written.
    summary = offered ? tr("current version is : v%1\nlatest version : v%2\nmodify time : "
                           "%3\nchangelog: %4\nclick update button to update")
                                .arg(installed, manifest.latestVersion, manifest.modifyTime,
                                     manifest.changelog)
                      : tr("current software is up-to-date\nversion: v%1\nclick cancel button "
                           "to quit")
                                .arg(installed);
}
