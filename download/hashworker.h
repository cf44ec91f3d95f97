#ifndef HASHWORKER_H
#define HASHWORKER_H

#include "verify/blake2b512.h"

#include <QByteArray>
#include <QObject>

// BLAKE2b-512 of a stream, computed on the thread it was moved to, so that hashing runs beside
// the writing instead of after it. Pieces come in by queued calls of add() in order; each one
// is reported by hashed() once done, which is what lets the feeder keep the backlog bounded.
class HashWorker : public QObject
{
    Q_OBJECT

public:
    void add(const QByteArray &piece);
    // Emits done() with the digest of every piece added; the worker is spent afterwards.
    void finish();

signals:
    void hashed(qint64 bytes);
    void done(const QByteArray &digest);

private:
    Blake2b512 hash;
};

#endif // HASHWORKER_H
