#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

// Helpers shared by the test suites: files, tree snapshots, zip builders, manifests and the
// child-program runner. Header-only, so each suite takes what it uses.

#include "install/entryname.h"
#include "testplatform.h"
#include "common/blake2b512.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <zstd.h>

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSignalSpy>
#include <QStringList>
#include <QVector>
#include <QtEndian>

// A child program run to its end while this process's event loop keeps going (so that servers
// living here go on answering), with its "key=value" lines of standard output.
struct ProbeRun
{
    int exitCode = -1;
    QStringList lines;

    // A child that has not ended within timeoutMs is killed, and the run counts as failed.
    static ProbeRun run(const QString &program, const QStringList &arguments,
                        const QString &workingDirectory = QString(), int timeoutMs = 90000)
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        QProcess probe;
        probe.setWorkingDirectory(workingDirectory);
        QSignalSpy finished(&probe, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        probe.start(program, arguments);
        ProbeRun result;
        if (!finished.wait(timeoutMs) || probe.exitStatus() != QProcess::NormalExit) {
            probe.kill();
            probe.waitForFinished();
            // What the child said on its way down, and how far it got, is all there is to go on.
            qWarning("%s did not end normally: %s\n%s", qPrintable(program),
                     probe.readAllStandardError().constData(),
                     probe.readAllStandardOutput().constData());
            return result;
        }
        result.exitCode = probe.exitCode();
        // A Windows program's printf ends its lines with "\r\n".
        result.lines = QString::fromUtf8(probe.readAllStandardOutput().replace("\r\n", "\n"))
                               .split(QLatin1Char('\n'));
        result.lines.removeAll(QString());
        return result;
    }

    // The value of the first line for key, or "<missing>".
    QString value(const QString &key) const
    {
        const QStringList all = values(key);
        return all.isEmpty() ? QStringLiteral("<missing>") : all.first();
    }

    QStringList values(const QString &key) const
    {
        QStringList all;
        for (const QString &line : lines) {
            if (line.startsWith(key + QLatin1Char('=')))
                all << line.mid(key.size() + 1);
        }
        return all;
    }
};

namespace testsupport {

// ---- files ----

inline QFile::Permissions permissionsOf(int mode)
{
    return QFile::Permissions(((mode & 0700) << 6) | ((mode & 070) << 1) | (mode & 07));
}

inline int modeOf(QFile::Permissions permissions)
{
    const int bits = int(permissions);
    return ((bits >> 6) & 0700) | ((bits >> 1) & 070) | (bits & 07);
}

// The one rule for a file that is not there: "<missing>", which no test writes as content.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes data with the given Unix mode, creating the folders on the way.
inline bool writeFile(const QString &path, const QByteArray &data, int mode = 0644)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
            && file.write(data) == data.size() && file.setPermissions(permissionsOf(mode));
}

// ---- tree snapshots ----

// Everything under root without following links, by relative path: "folder", "link to X", or a
// file's octal mode, a space and its bytes.
using Tree = QMap<QString, QByteArray>;

// The mode as this system keeps it.
inline QByteArray fileState(int mode, const QByteArray &content)
{
    return QByteArray::number(testplatform::keptMode(mode), 8) + ' ' + content;
}

// leaveOut, a relative path, is passed over with everything below it (the updater's own folder,
// say, when only the application's files count).
inline Tree snapshot(const QString &root, const QString &leaveOut = QString())
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = path.mid(root.size() + 1);
        if (!leaveOut.isEmpty()
            && (relative == leaveOut || relative.startsWith(leaveOut + QLatin1Char('/'))))
            continue;
        QByteArray &value = tree[relative];
        if (info.isSymLink())
            value = "link to " + info.symLinkTarget().toUtf8();
        else if (info.isDir())
            value = "folder";
        else
            value = fileState(modeOf(info.permissions()), readFile(path));
    }
    return tree;
}

// ---- zip builders ----

struct ZipEntry
{
    enum Kind { File, Dir, Link };
    QString name;
    QByteArray data; // a link's destination for a link
    Kind kind = File;
    int mode = 0600; // Unix mode written into the archive
};

enum class Compression { Deflate, Store };

// An honest zip written by libarchive, UTF-8 names, Unix modes from the entries.
inline QByteArray makeZip(const QVector<ZipEntry> &entries,
                          Compression compression = Compression::Deflate)
{
    QByteArray zip;
    archive *writer = archive_write_new();
    archive_write_set_format_zip(writer);
    archive_write_set_options(writer,
                              compression == Compression::Store
                                      ? "zip:compression=store,zip:hdrcharset=UTF-8"
                                      : "zip:compression=deflate,zip:hdrcharset=UTF-8");
    // No padding of the last block: the bytes are the archive and nothing else.
    archive_write_set_bytes_in_last_block(writer, 1);
    const auto append = [](archive *, void *sink, const void *data, size_t size) -> la_ssize_t {
        static_cast<QByteArray *>(sink)->append(static_cast<const char *>(data), int(size));
        return la_ssize_t(size);
    };
    archive_write_open(writer, &zip, nullptr, append, nullptr);
    for (const ZipEntry &entry : entries) {
        archive_entry *header = archive_entry_new();
        // libarchive 3.6.2 on Windows crashes writing a name set as UTF-8 that has a character
        // outside the ANSI code page; a name given in wide characters it writes as UTF-8.
        archive_entry_copy_pathname_w(header, entry.name.toStdWString().c_str());
        archive_entry_set_mtime(header, 1700000000, 0);
        switch (entry.kind) {
        case ZipEntry::File:
            archive_entry_set_filetype(header, AE_IFREG);
            archive_entry_set_size(header, entry.data.size());
            break;
        case ZipEntry::Dir:
            archive_entry_set_filetype(header, AE_IFDIR);
            break;
        case ZipEntry::Link:
            archive_entry_set_filetype(header, AE_IFLNK);
            archive_entry_set_symlink_utf8(header, entry.data.constData());
            break;
        }
        archive_entry_set_perm(header, mode_t(entry.kind == ZipEntry::Dir ? 0755 : entry.mode));
        archive_write_header(writer, header);
        if (entry.kind == ZipEntry::File)
            archive_write_data(writer, entry.data.constData(), size_t(entry.data.size()));
        archive_entry_free(header);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return zip;
}

// ---- delta packages ----

// A file of a delta package: patched from old (or added whole), made into made. digestOf and
// sizeOffset make the index lie about the result.
struct DeltaFile
{
    QString path;
    QByteArray old;
    QByteArray made;
    bool patch = true;
    QByteArray digestOf = QByteArray();
    qint64 sizeOffset = 0;
};

inline QByteArray blake2bHex(const QByteArray &bytes)
{
    Blake2b512 digest;
    digest.addData(bytes);
    return digest.result().toHex();
}

// A zstd frame of made with old as its prefix, as zstd --patch-from writes one.
inline QByteArray zstdPatch(const QByteArray &old, const QByteArray &made)
{
    ZSTD_CCtx *context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_refPrefix(context, old.constData(), size_t(old.size()));
    QByteArray frame(int(ZSTD_compressBound(size_t(made.size()))), Qt::Uninitialized);
    const size_t size = ZSTD_compress2(context, frame.data(), size_t(frame.size()),
                                       made.constData(), size_t(made.size()));
    ZSTD_freeCCtx(context);
    frame.resize(ZSTD_isError(size) ? 0 : int(size));
    return frame;
}

// A delta package as the publisher's tool writes it: delta.json, then the frames (stored) and
// the new files.
inline QByteArray deltaZip(const QString &from, const QString &to, const QVector<DeltaFile> &files)
{
    QJsonArray listed;
    QVector<ZipEntry> entries { { QStringLiteral("delta.json"), QByteArray(), ZipEntry::File,
                                  0644 } };
    for (const DeltaFile &file : files) {
        QJsonObject item { { "path", file.path },
                           { "action", file.patch ? "patch" : "add" },
                           { "blake2b",
                             QString::fromLatin1(blake2bHex(
                                     file.digestOf.isNull() ? file.made : file.digestOf)) },
                           { "size", double(file.made.size() + file.sizeOffset) },
                           { "executable", true } };
        if (file.patch)
            item.insert("old-blake2b", QString::fromLatin1(blake2bHex(file.old)));
        listed.append(item);
        entries.append({ file.path, file.patch ? zstdPatch(file.old, file.made) : file.made,
                         ZipEntry::File, 0755 });
    }
    entries[0].data = QJsonDocument(QJsonObject { { "from", from }, { "to", to },
                                                  { "files", listed } })
                              .toJson();
    return makeZip(entries, Compression::Store);
}

// Byte patching of a finished zip, for the damaged and hostile ones.
inline quint16 read16(const QByteArray &zip, int at)
{
    return qFromLittleEndian<quint16>(zip.constData() + at);
}
inline quint32 read32(const QByteArray &zip, int at)
{
    return qFromLittleEndian<quint32>(zip.constData() + at);
}
inline void write16(QByteArray &zip, int at, quint16 value)
{
    qToLittleEndian(value, zip.data() + at);
}
inline void write32(QByteArray &zip, int at, quint32 value)
{
    qToLittleEndian(value, zip.data() + at);
}

inline int endRecord(const QByteArray &zip)
{
    return zip.lastIndexOf("PK\x05\x06");
}

// Offsets of the central headers, in the order of the entries.
inline QVector<int> centralHeaders(const QByteArray &zip)
{
    const int end = endRecord(zip);
    QVector<int> headers;
    int at = int(read32(zip, end + 16));
    for (int i = 0; i < read16(zip, end + 10); ++i) {
        headers.append(at);
        at += 46 + read16(zip, at + 28) + read16(zip, at + 30) + read16(zip, at + 32);
    }
    return headers;
}

// Names the builder would never write, put over stand-ins of the same length in both the local
// and the central header. A name ending in '/' makes a folder entry.
inline QByteArray zipWithRawNames(const QVector<QPair<QByteArray, QByteArray>> &raw)
{
    QVector<ZipEntry> standIns;
    for (int i = 0; i < raw.size(); ++i) {
        const bool isDir = raw.at(i).first.endsWith('/');
        standIns.append({ QString(raw.at(i).first.size() - isDir, QChar('a' + i)), raw.at(i).second,
                          isDir ? ZipEntry::Dir : ZipEntry::File });
    }
    QByteArray zip = makeZip(standIns);
    const QVector<int> headers = centralHeaders(zip);
    for (int i = 0; i < raw.size(); ++i) {
        const QByteArray &name = raw.at(i).first;
        zip.replace(headers.at(i) + 46, name.size(), name);
        zip.replace(int(read32(zip, headers.at(i) + 42)) + 30, name.size(), name);
    }
    return zip;
}

// Every entry of a zip as libarchive reads it, in archive order: path (without a folder's
// trailing '/'), and "folder", "link" or "file".
inline QVector<QPair<QString, QString>> zipListing(const QString &path)
{
    QVector<QPair<QString, QString>> listing;
    archive *reader = archive_read_new();
    archive_read_support_format_zip(reader);
    if (archive_read_open_filename(reader, QFile::encodeName(path).constData(), 65536)
        == ARCHIVE_OK) {
        archive_entry *entry = nullptr;
        while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
            const auto type = archive_entry_filetype(entry);
            QString name = entryName(entry);
            if (name.endsWith(QLatin1Char('/')))
                name.chop(1);
            listing.append({ name,
                             type == AE_IFDIR           ? QStringLiteral("folder")
                                     : type == AE_IFLNK ? QStringLiteral("link")
                                                        : QStringLiteral("file") });
        }
    }
    archive_read_free(reader);
    return listing;
}

// A copy of tests/markerprobe with "updater-marker WHAT<tab>FOLDER" appended: started, it writes
// "what" and a line end into folder/started.
inline QByteArray marker(const QByteArray &what, const QString &folder)
{
    static const QByteArray program = readFile(QStringLiteral(MARKER_PROBE));
    return program + "\nupdater-marker " + what + '\t' + folder.toUtf8() + '\n';
}

// ---- manifests ----

// The update manifest the dialog reads, with one entry for platform.
inline QByteArray manifest(const QJsonObject &entry,
                           const QString &platform = QStringLiteral("windows"))
{
    return QJsonDocument(QJsonObject { { QStringLiteral("updates"),
                                         QJsonObject { { platform, entry } } } })
            .toJson();
}

// ---- minisign ----

// Runs the minisign program to its end, with nothing on its standard input; true on success.
inline bool minisign(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("minisign"), arguments);
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
}

// ---- fixtures ----

// A file that tests/make-fixtures made at build time.
inline QString fixture(const QString &relative)
{
    return QStringLiteral(FIXTURES "/") + relative;
}

// The public key string of a fixture key pair (the second line of keys/name.pub).
inline QString fixtureKey(const QString &name)
{
    return QString::fromLatin1(readFile(fixture("keys/" + name + ".pub")).split('\n').value(1));
}

// The .minisig that minisign -S writes for bytes saved as fileName, signed with the fixture key
// pair name (made without a password, so the secret key is stored in the clear); empty when the
// key cannot be read. Made here because the bytes are made at test time.
inline QByteArray minisignSignature(const QString &name, const QByteArray &bytes,
                                    const QString &fileName)
{
    // "Ed", no KDF, "B2", salt, limits, then the key id and libsodium's secret key: the 32-byte
    // seed, then the public key.
    const QByteArray key = QByteArray::fromBase64(
            readFile(fixture("keys/" + name + ".key")).split('\n').value(1));
    if (key.size() < 126 || !key.startsWith(QByteArray("Ed\0\0B2", 6)))
        return QByteArray();
    EVP_PKEY *secret = EVP_PKEY_new_raw_private_key(
            EVP_PKEY_ED25519, nullptr,
            reinterpret_cast<const unsigned char *>(key.constData() + 62), 32);
    if (!secret)
        return QByteArray();
    const auto ed25519 = [secret](const QByteArray &message) {
        QByteArray signature(64, Qt::Uninitialized);
        size_t size = 64;
        EVP_MD_CTX *context = EVP_MD_CTX_new();
        const bool ok = EVP_DigestSignInit(context, nullptr, nullptr, nullptr, secret) == 1
                && EVP_DigestSign(context, reinterpret_cast<unsigned char *>(signature.data()),
                                  &size,
                                  reinterpret_cast<const unsigned char *>(message.constData()),
                                  size_t(message.size()))
                        == 1;
        EVP_MD_CTX_free(context);
        return ok ? signature : QByteArray();
    };
    Blake2b512 hash;
    hash.addData(bytes);
    const QByteArray signature = ed25519(hash.result());
    const QByteArray trusted = "timestamp:1700000000\tfile:" + fileName.toUtf8() + "\thashed";
    const QByteArray global = ed25519(signature + trusted);
    EVP_PKEY_free(secret);
    if (signature.isEmpty() || global.isEmpty())
        return QByteArray();
    return "untrusted comment: signature from minisign secret key\n"
            + ("ED" + key.mid(54, 8) + signature).toBase64() + "\ntrusted comment: " + trusted
            + '\n' + global.toBase64() + '\n';
}

} // namespace testsupport

#endif // TESTSUPPORT_H
