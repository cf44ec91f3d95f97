#ifndef INSTALLERROR_H
#define INSTALLERROR_H

// How an install failed; the detail is in the errorString() of whoever reports it.
enum class InstallError {
    NoError,
    Busy, // another updater holds the update lock, or an earlier install is not settled
    Refused, // the package's fault: unreadable, unsafe or over a limit
    NoSpace, // the target's disk cannot hold what the package declares; nothing written
    WriteFailed, // a write or a move that failed; rolled back
    Cancelled, // rolled back
    RollBackIncomplete, // a failure whose undo could not finish: the backups are kept
};

#endif // INSTALLERROR_H
