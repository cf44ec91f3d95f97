#include "install/archivereader.h"

#include "install/entryname.h"

#include <archive_entry.h>

#include <QIODevice>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

// Piece in which the package is read from the disk.
constexpr int readPieceSize = 256 * 1024;

} // namespace

ArchiveReader::ArchiveReader(QIODevice *device)
    : device(device)
    , handle(archive_read_new())
    , buffer(readPieceSize)
{ }

ArchiveReader::~ArchiveReader()
{
    archive_read_free(handle);
}

bool ArchiveReader::open()
{
    if (!device->seek(0))
        return false;
    archive_read_support_format_zip_seekable(handle);
    archive_read_set_callback_data(handle, this);
    archive_read_set_read_callback(handle, &ArchiveReader::read);
    archive_read_set_seek_callback(handle, &ArchiveReader::seek);
    archive_read_set_skip_callback(handle, &ArchiveReader::skip);
    return archive_read_open1(handle) == ARCHIVE_OK;
}

QString ArchiveReader::lastError() const
{
    const char *message = archive_error_string(handle);
    return message ? QString::fromUtf8(message) : QStringLiteral("unknown error");
}

qint64 ArchiveReader::claimedEntryCount(QIODevice &device)
{
    constexpr int endRecordSize = 22;
    constexpr int maxCommentSize = 0xffff;
    const qint64 size = device.size();
    const qint64 tailStart = qMax<qint64>(0, size - endRecordSize - maxCommentSize);
    if (!device.seek(tailStart))
        return -1;
    const QByteArray tail = device.read(size - tailStart);
    const int at = tail.lastIndexOf("PK\x05\x06");
    if (at < 0 || at + endRecordSize > tail.size())
        return -1;
    const quint16 count = qFromLittleEndian<quint16>(tail.constData() + at + 10);
    // Zip64 keeps the real count in a record the locator just before the end record points at.
    if (count != 0xffff || at < 20
        || qFromLittleEndian<quint32>(tail.constData() + at - 20) != 0x07064b50)
        return count;
    const qint64 recordAt = qFromLittleEndian<qint64>(tail.constData() + at - 20 + 8);
    if (recordAt < 0 || !device.seek(recordAt))
        return -1;
    const QByteArray record = device.read(40);
    if (record.size() != 40 || !record.startsWith("PK\x06\x06"))
        return -1;
    return qFromLittleEndian<qint64>(record.constData() + 32);
}

bool ArchiveReader::readFirstEntry(QIODevice *device, const QString &name, qint64 maxBytes,
                                   QByteArray *content)
{
    ArchiveReader reader(device);
    archive_entry *header = nullptr;
    if (!reader.open() || archive_read_next_header(reader.get(), &header) != ARCHIVE_OK
        || entryName(header) != name || archive_entry_filetype(header) != AE_IFREG
        || archive_entry_size(header) < 0 || archive_entry_size(header) > maxBytes)
        return false;
    QByteArray bytes(int(archive_entry_size(header)), Qt::Uninitialized);
    char extra = 0;
    if (archive_read_data(reader.get(), bytes.data(), size_t(bytes.size())) != bytes.size()
        || archive_read_data(reader.get(), &extra, 1) != 0)
        return false;
    *content = std::move(bytes);
    return true;
}

la_ssize_t ArchiveReader::read(archive *handle, void *data, const void **block)
{
    auto *self = static_cast<ArchiveReader *>(data);
    const qint64 got = self->device->read(self->buffer.data(), qint64(self->buffer.size()));
    if (got < 0) {
        archive_set_error(handle, EIO, "cannot read the package");
        return -1;
    }
    *block = self->buffer.data();
    return la_ssize_t(got);
}

la_int64_t ArchiveReader::seek(archive *handle, void *data, la_int64_t offset, int whence)
{
    auto *self = static_cast<ArchiveReader *>(data);
    const qint64 base = whence == SEEK_SET ? 0
            : whence == SEEK_CUR           ? self->device->pos()
                                           : self->device->size();
    const qint64 to = base + offset;
    if (to < 0 || to > self->device->size() || !self->device->seek(to)) {
        archive_set_error(handle, EIO, "seek outside the package");
        return ARCHIVE_FATAL;
    }
    return to;
}

la_int64_t ArchiveReader::skip(archive *, void *data, la_int64_t request)
{
    auto *self = static_cast<ArchiveReader *>(data);
    const qint64 to
            = qMin(self->device->pos() + qMax<la_int64_t>(request, 0), self->device->size());
    const qint64 from = self->device->pos();
    return self->device->seek(to) ? to - from : 0;
}
