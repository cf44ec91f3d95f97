#include "verify/filedigest.h"

#include "common/blake2b512.h"

#include <QFile>
#include <QThread>

FileDigest::FileDigest(QObject *parent)
    : QObject(parent)
{ }

FileDigest::~FileDigest()
{
    if (thread) {
        stopping = true;
        thread->wait();
        delete thread;
    }
}

void FileDigest::start(QFile *file)
{
    Q_ASSERT(!thread);
    digest.clear();
    thread = QThread::create([this, file] {
        constexpr qint64 pieceSize = 1 << 20;
        QByteArray piece(int(pieceSize), Qt::Uninitialized);
        Blake2b512 hash;
        if (!file->seek(0))
            return;
        while (!stopping) {
            const qint64 read = file->read(piece.data(), pieceSize);
            if (read < 0)
                return;
            if (read == 0) {
                digest = hash.result();
                return;
            }
            hash.addData(piece.constData(), read);
        }
    });
    connect(thread, &QThread::finished, this, [this] {
        delete thread;
        thread = nullptr;
        emit done(digest);
    });
    thread->start();
}
