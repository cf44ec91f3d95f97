#ifndef FILEDIGEST_H
#define FILEDIGEST_H

#include <QByteArray>
#include <QObject>

#include <atomic>

class QFile;
class QThread;

// The BLAKE2b-512 of a whole open file, read through its handle from the start on a thread of
// its own, so that a large file does not stop the window. done() arrives on the thread that
// called start(); destroying the object stops the reading and waits for it.
class FileDigest : public QObject
{
    Q_OBJECT

public:
    explicit FileDigest(QObject *parent = nullptr);
    ~FileDigest() override;

    // The file stays open and untouched by anyone else until done().
    void start(QFile *file);

signals:
    // Empty when the file could not be read to its end.
    void done(const QByteArray &digest);

private:
    QThread *thread = nullptr;
    std::atomic<bool> stopping { false };
    QByteArray digest;
};

#endif // FILEDIGEST_H
