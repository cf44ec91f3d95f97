#include "download/hashworker.h"

#include <QFile>

void HashWorker::add(const QByteArray &piece)
{
    hash->addData(piece);
    emit hashed(piece.size());
}

void HashWorker::addFile(const std::shared_ptr<QFile> &file, qint64 size)
{
    // Large enough to keep the thread busy, small enough to report the backlog's progress.
    constexpr qint64 piece = 1024 * 1024;
    qint64 done = 0;
    if (file->isOpen()) {
        while (done < size) {
            const QByteArray bytes = file->read(qMin(size - done, piece));
            if (bytes.isEmpty())
                break;
            hash->addData(bytes);
            done += bytes.size();
            emit hashed(bytes.size());
        }
    }
    // The feeder learns that the rest is done with all the same; the digest will tell.
    if (done < size) {
        broken = true;
        emit hashed(size - done);
    }
}

void HashWorker::reset()
{
    hash = std::make_unique<Blake2b512>();
    broken = false;
}

void HashWorker::finish()
{
    emit done(broken ? QByteArray() : hash->result());
}
