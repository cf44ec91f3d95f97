#include "road/packagechoice.h"

#include "road/settings.h"
#include "road/versionrule.h"

#include <QCoreApplication>

PackageChoice::PackageChoice(const Manifest &manifest, const QString &installed)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("UpdateRun", text); };
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
    summary = offered ? tr("current version is : v") + installed + tr("\nlatest version : v")
                    + manifest.latestVersion + tr("\nmodify time : ") + manifest.modifyTime
                    + tr("\nchangelog: ") + manifest.changelog
                    + tr("\nclick update button to update")
                      : tr("current software is up-to-date") + tr("\nversion: v") + installed
                    + tr("\nclick cancel button to quit");
}
