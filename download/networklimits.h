#ifndef NETWORKLIMITS_H
#define NETWORKLIMITS_H

#include <QtGlobal>

// Every limit that bounds what the network may cost us, in one place. They are variables, not
// constants, so that tests can shorten them; the program never changes them.
namespace NetworkLimits {

// A transfer that receives no byte (headers included) for this long ends: a server that
// accepts and goes silent, or stalls after its headers or mid-body.
extern int stallTimeoutMs; // 30 s
// The drip floor: a transfer that receives fewer than dripMinBytes over any window of
// dripWindowMs ends, however regularly the bytes come. 64 KiB a minute is about 1 KiB/s,
// below any real link; a server dripping a byte a second is cut after one window.
extern int dripWindowMs; // 60 s
extern qint64 dripMinBytes; // 64 KiB
// Bodies read into memory whole.
extern qint64 manifestMaxBytes; // 1 MiB
extern qint64 signatureMaxBytes; // 64 KiB
// What a reply may hold between two reads. Unbounded, Qt lets hundreds of MiB pile up on a
// fast link; a few MiB keep the disk busy without holding the package in memory.
extern qint64 readBufferBytes; // 2 MiB
// Bytes written to disk but not yet hashed. Above this the download stops reading its reply
// until the hasher catches up, so TCP slows the server instead of memory growing.
extern qint64 hashBacklogBytes; // 4 MiB

} // namespace NetworkLimits

#endif // NETWORKLIMITS_H
