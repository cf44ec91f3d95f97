#ifndef DEVICENAME_H
#define DEVICENAME_H

#include <QString>

// Windows' device names, which a file of that name would open instead: packages are for
// Windows, so its rule holds wherever the updater runs, for entries and downloads alike.
namespace DeviceName {

// Whether name, without its extension, is one of them (CON, COM1, ...).
bool isReserved(const QString &name);

} // namespace DeviceName

#endif // DEVICENAME_H
