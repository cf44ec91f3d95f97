#ifndef ARCHIVEREADER_H
#define ARCHIVEREADER_H

#include <archive.h>

#include <QString>

#include <vector>

class QIODevice;

// libarchive reading a zip from an open, seekable device (the package's file, or its bytes in a
// QBuffer) through callbacks, seekable so that the zip reader takes the central directory as the
// truth. The device is only read through; it stays open and owned by the caller.
class ArchiveReader
{
public:
    explicit ArchiveReader(QIODevice *device);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    // Reads from the start of the device; false when it is no zip libarchive can open.
    bool open();
    archive *get() const { return handle; }
    QString lastError() const;

    // The entry count the end record of the zip in device claims, read before libarchive loads
    // the whole central directory into memory: a 100 MB package of empty entries would make it
    // hold millions. -1 when there is no end record to read; libarchive then says what is wrong.
    static qint64 claimedEntryCount(QIODevice &device);
    // The whole content of the zip's first entry, when it is a file called name of at most
    // maxBytes; read whole but never past the bound.
    static bool readFirstEntry(QIODevice *device, const QString &name, qint64 maxBytes,
                               QByteArray *content);

private:
    static la_ssize_t read(archive *handle, void *data, const void **block);
    static la_int64_t seek(archive *handle, void *data, la_int64_t offset, int whence);
    static la_int64_t skip(archive *handle, void *data, la_int64_t request);

    QIODevice *device;
    archive *handle;
    std::vector<char> buffer;
};

#endif // ARCHIVEREADER_H
