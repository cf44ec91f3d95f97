// The manifest as the check reads it, then both version rules on what it gave, from arbitrary
// bytes. Whatever arrives, the values must stay within the bounds the dialog relies on to paint
// at once, and the rules must agree with themselves.
#include "road/manifest.h"
#include "road/versionrule.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body
            = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    Manifest manifest;
    if (manifest.read(body, QStringLiteral("windows")) != Manifest::Status::Read)
        return 0;
    if (manifest.latestVersion.size() > Manifest::maxVersionCharacters
        || manifest.changelog.size() > Manifest::maxChangelogCharacters + 1
        || manifest.changelog.count(QLatin1Char('\n')) >= Manifest::maxChangelogLines
        || manifest.modifyTime.size() > Manifest::maxModifyTimeCharacters + 1
        || qMax(manifest.fullUrl.size(), manifest.downloadUrl.size()) > Manifest::maxUrlCharacters)
        abort();
    // An expiry is read in the one UTC form or not at all, and only from a member that is there.
    if (manifest.expires.isValid()
        && (!manifest.hasExpires || manifest.expires.timeSpec() != Qt::UTC
            || manifest.expires.time().msec() != 0))
        abort();

    // The local version is the latest one's own text, and its first half: the rule must hold its
    // definition on whatever the manifest says.
    const QString latest = manifest.latestVersion;
    const QString local = latest.left(latest.size() / 2);
    bool needFull = false;
    const bool offered = VersionRule::offersUpdate(local, latest, &needFull);
    if (offered != VersionRule::isNewer(local, latest)
        || (offered && !VersionRule::isUsable(latest)))
        abort();
    if (VersionRule::isNewer(latest, latest))
        abort();
    if (VersionRule::isNewer(local, latest) && VersionRule::isNewer(latest, local))
        abort();
    return 0;
}
