#ifndef DOWNLOADSTATUS_H
#define DOWNLOADSTATUS_H

#include <QObject>

// How a download ended and why it asks again, in a header of their own: the parts of the
// Downloader and those who read its results need these, not the Downloader itself.
namespace Download {
Q_NAMESPACE

enum class Error {
    NoError,
    Network, // the connection failed or ended early
    Refused, // the address or the answer is none we take: status, encoding, size, name
    Timeout, // the server went silent or dripped below the floor
    DiskFull,
    WriteFailed, // the folder could not be written, or the file changed under us
    Busy, // another updater holds the folder
    Cancelled,
};
Q_ENUM_NS(Error)

// Why a transfer asks again.
enum class Retry {
    ConnectionLost, // the body ended early: the rest is asked for, or all of it again
    PartRefused, // the server sent another part than the rest: all of it is asked for
    ServerBusy, // a status that says "later" (503 and the like)
};
Q_ENUM_NS(Retry)

} // namespace Download

#endif // DOWNLOADSTATUS_H
