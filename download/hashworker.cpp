#include "download/hashworker.h"

void HashWorker::add(const QByteArray &piece)
{
    hash.addData(piece);
    emit hashed(piece.size());
}

void HashWorker::finish()
{
    emit done(hash.result());
}
