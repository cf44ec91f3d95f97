#ifndef DOWNLOADSTATUS_H
#define DOWNLOADSTATUS_H

#include "download/networkfailure.h"

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

// What a failed transfer knew of its cause, as values: the kind, the network's part in it (for
// Network, Refused and Timeout), how often it was asked again, and for a full disk the bytes it
// needed and those free, where measured (-1 otherwise).
struct Failure
{
    Error error = Error::NoError;
    NetworkFailure network;
    int retries = 0;
    qint64 needed = -1;
    qint64 available = -1;
};

} // namespace Download

#endif // DOWNLOADSTATUS_H
