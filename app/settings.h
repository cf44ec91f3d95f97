#ifndef SETTINGS_H
#define SETTINGS_H

#include <QString>

// Program-wide settings, compiled in. Start-up writes currentVersion once, before the dialog
// exists; nothing writes the others.
extern QString manifestUrl;
extern QString platformKey;
extern QString appName;
extern QString currentVersion;

#endif // SETTINGS_H
