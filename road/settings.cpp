#include "road/settings.h"

// The host is chosen by the publisher at configure time (UPDATER_SERVER_HOST).
QString manifestUrl
        = QStringLiteral("http://" UPDATER_SERVER_HOST
                         ":1995/Kestrin/deploy/raw/branch/master/Morvane/definitions/updates.json");
QString platformKey = QStringLiteral("windows");
QString appName = QStringLiteral("Morvane");
QString currentVersion = QStringLiteral("0.0.0");
QString updaterVersion = QStringLiteral(UPDATER_VERSION);
// Checked at configure time; the run parses it again and refuses to update on a bad one.
QString publicKey = QStringLiteral(UPDATER_PUBLIC_KEY);
bool requireExpiry = UPDATER_REQUIRE_EXPIRY;
