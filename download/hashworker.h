#ifndef HASHWORKER_H
#define HASHWORKER_H

#include "common/blake2b512.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QFile;

// BLAKE2b-512 of a stream, computed on the thread it was moved to, so that hashing runs beside
// the writing instead of after it. Pieces come in by queued calls of add() in order; each one
// is reported by hashed() once done, which is what lets the feeder keep the backlog bounded. A
// file's bytes can come first, read on the worker's thread.
class HashWorker : public QObject
{
    Q_OBJECT

public:
    void add(const QByteArray &piece);
    // Adds the first size bytes of file (open at its start, or closed when it could not be
    // opened), reported by hashed() as they are read.
    void addFile(const std::shared_ptr<QFile> &file, qint64 size);
    // Forgets every piece added: the stream starts again.
    void reset();
    // Emits done() with the digest of every piece added, or an empty one when a file could not be
    // read whole; the worker is spent afterwards.
    void finish();

signals:
    void hashed(qint64 bytes);
    void done(const QByteArray &digest);

private:
    std::unique_ptr<Blake2b512> hash = std::make_unique<Blake2b512>();
    bool broken = false;
};

#endif // HASHWORKER_H
