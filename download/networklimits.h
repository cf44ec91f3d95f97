#ifndef NETWORKLIMITS_H
#define NETWORKLIMITS_H

#include <QString>
#include <QtGlobal>

// Every limit that bounds what the network may cost us, in one place. The limits are variables,
// not constants, so that tests can shorten them; the program never changes them.
namespace NetworkLimits {

// "64 KiB", "1 MiB", "1000 bytes": sizes in the reasons the transfers give.
QString sizeText(qint64 bytes);

// A transfer that receives no byte (headers included) for this long ends: a server that
// accepts and goes silent, or stalls after its headers or mid-body.
extern int stallTimeoutMs; // 30 s
// The drip floor: a transfer that receives fewer than dripMinBytes over any window of
// dripWindowMs ends, however regularly the bytes come. 64 KiB a minute is about 1 KiB/s,
// below any real link; a server dripping a byte a second is cut after one window.
extern int dripWindowMs; // 60 s
extern qint64 dripMinBytes; // 64 KiB
// The check as a whole, manifest and signature together: a server dripping just above the
// floor would otherwise keep it silent for many minutes.
extern int checkDeadlineMs; // 60 s
// Bodies read into memory whole.
extern qint64 manifestMaxBytes; // 1 MiB
extern qint64 signatureMaxBytes; // 64 KiB
// What a reply may hold between two reads. Unbounded, Qt lets hundreds of MiB pile up on a
// fast link; a few MiB keep the disk busy without holding the package in memory.
extern qint64 readBufferBytes; // 2 MiB
// Bytes written to disk but not yet hashed. Above this the download stops reading its reply
// until the hasher catches up, so TCP slows the server instead of memory growing.
extern qint64 hashBacklogBytes; // 4 MiB
// A package's bytes on disk: a body stops at downloadMaxBytes, and where its volume has less
// room, where freeSpaceReserveBytes would be all that is left of the space free at its start, so
// that an endless body neither fills the disk nor runs for ever.
extern qint64 downloadMaxBytes; // 8 GiB
extern qint64 freeSpaceReserveBytes; // 64 MiB
// A download that loses its connection after some bytes asks again, up to retryCount times,
// waiting retryDelayMs before the first retry and twice as long before each next one (1, 2, 4,
// 8, 16 s): a dropped link has time to come back, and a struggling server is not hammered.
extern int retryCount; // 5
extern int retryDelayMs; // 1 s

} // namespace NetworkLimits

#endif // NETWORKLIMITS_H
