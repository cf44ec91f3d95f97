#ifndef SETTINGS_H
#define SETTINGS_H

#include <QString>

// Program-wide settings, compiled in. Start-up writes currentVersion once, before the road
// exists; nothing writes the others (tests excepted).
extern QString manifestUrl;
extern QString platformKey;
extern QString appName;
extern QString currentVersion;
// The updater's own version (the project's, UPDATER_VERSION).
extern QString updaterVersion;
// The publisher's minisign public key string (UPDATER_PUBLIC_KEY); empty in an unsigned build.
extern QString publicKey;
// Whether a signed build also refuses a manifest without "expires" (UPDATER_REQUIRE_EXPIRY).
extern bool requireExpiry;

#endif // SETTINGS_H
