#include "road/settings.h"

// Chosen by the publisher at configure time: UPDATER_MANIFEST_URL, else the usual address on
// UPDATER_SERVER_HOST.
QString manifestUrl = QStringLiteral(UPDATER_MANIFEST_URL);
QString platformKey = QStringLiteral("windows");
QString appName = QStringLiteral("Morvane");
QString currentVersion = QStringLiteral("0.0.0");
QString updaterVersion = QStringLiteral(UPDATER_VERSION);
// Checked at configure time; the run parses it again and refuses to update on a bad one.
QString publicKey = QStringLiteral(UPDATER_PUBLIC_KEY);
bool requireExpiry = UPDATER_REQUIRE_EXPIRY;
