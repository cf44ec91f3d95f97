#include "install/packageinstaller.h"

#include <QtGui/private/qzipreader_p.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QVector>
#include <QtEndian>

#include <array>
#include <optional>

namespace {

// No file of ours comes near this; a bigger declared size is a damaged or hostile header, and
// the reader would try to hold the whole entry in memory.
constexpr qint64 maxEntrySize = qint64(1) << 30;

constexpr quint32 endRecordSignature = 0x06054b50;
constexpr quint32 centralHeaderSignature = 0x02014b50;
constexpr int endRecordSize = 22;
constexpr int centralHeaderSize = 46;
constexpr int maxCommentSize = 0xffff;
constexpr quint16 utf8NamesFlag = 0x0800;
constexpr int unixHost = 3;

constexpr QFile::Permissions executeBits
        = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;

#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
constexpr bool caseInsensitiveNames = true;
#else
constexpr bool caseInsensitiveNames = false;
#endif

quint16 le16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}
quint32 le32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

quint32 crc32(const QByteArray &data)
{
    static constexpr auto table = [] {
        std::array<quint32, 256> t {};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xffffffffu;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xff] ^ (crc >> 8);
    return ~crc;
}

// What QZipReader's file info leaves out or tidies up (it strips leading dots and slashes from
// names): the name as stored, and whether the permission bits come from a Unix host.
struct CentralRecord
{
    QString name;
    bool unixMode;
};

// QZipReader accepts a missing end record or a cut central directory silently and just lists
// fewer entries, so the directory is walked here too, strictly, to hold the reader to it.
bool readCentralDirectory(QFile &file, QVector<CentralRecord> &records)
{
    const qint64 fileSize = file.size();
    const qint64 tailStart = qMax<qint64>(0, fileSize - endRecordSize - maxCommentSize);
    if (!file.seek(tailStart))
        return false;
    const QByteArray tail = file.read(fileSize - tailStart);
    if (tail.size() != fileSize - tailStart)
        return false;

    int at = tail.size() - endRecordSize;
    while (at >= 0 && le32(tail.constData() + at) != endRecordSignature)
        --at;
    if (at < 0)
        return false;
    const char *end = tail.constData() + at;
    const int count = le16(end + 10);
    const qint64 directorySize = le32(end + 12);
    const qint64 directoryStart = le32(end + 16);
    // The comment must fill the rest of the file exactly, and the directory must end where the
    // end record starts; anything else is a cut or patched archive.
    if (at + endRecordSize + le16(end + 20) != tail.size()
        || directoryStart + directorySize != tailStart + at || !file.seek(directoryStart))
        return false;
    const QByteArray directory = file.read(directorySize);
    if (directory.size() != directorySize)
        return false;

    int pos = 0;
    for (int i = 0; i < count; ++i) {
        const char *header = directory.constData() + pos;
        if (pos + centralHeaderSize > directory.size() || le32(header) != centralHeaderSignature)
            return false;
        const int nameSize = le16(header + 28);
        const int recordSize = centralHeaderSize + nameSize + le16(header + 30) + le16(header + 32);
        if (pos + recordSize > directory.size())
            return false;
        const QByteArray name(header + centralHeaderSize, nameSize);
        const bool utf8 = le16(header + 8) & utf8NamesFlag;
        const quint32 mode = le32(header + 38) >> 16;
        records.append({ utf8 ? QString::fromUtf8(name) : QString::fromLocal8Bit(name),
                         (le16(header + 4) >> 8) == unixHost && (mode & 0777) != 0 });
        pos += recordSize;
    }
    return pos == directory.size();
}

// A relative path made only of plain names, read the same way on every system: separators other
// than '/', drive letters and stream names (':'), and control characters never belong in a
// package of ours.
bool isPlainRelativePath(const QString &path)
{
    for (const QChar c : path) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
    }
    // Besides "." and "..", this refuses names that Windows trims of trailing dots and spaces,
    // which could meet another entry's name there.
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' ')))
            return false;
    }
    return true;
}

QString nameKey(const QString &path)
{
    return caseInsensitiveNames ? path.toCaseFolded() : path;
}

struct Entry
{
    QString storedName;
    QString path; // relative to the target, without a trailing '/'
    bool isDir;
    bool unixMode;
    QFile::Permissions permissions;
    quint32 crc;
    qint64 size;
};

// Every change made to the target directory, so that a failure can undo them in reverse.
struct Step
{
    enum Kind { CreatedDir, MovedAside, Placed } kind;
    QString path;
    QString backup;
};

// One run of an installation: check the package, write every file into a staging folder inside
// the target, then move the files into place.
class Installation
{
public:
    Installation(const QString &packagePath, const QString &targetDir);

    bool run();
    QString error;

private:
    bool fail(const char *reason, const QString &subject);
    bool readPackage();
    bool checkLayout();
    bool isInsideTarget(const QString &canonicalPath) const;
    bool stage();
    QString stagedPath(int index) const;
    bool moveIntoPlace();
    bool makeDirs(const QString &relativePath);
    bool placeDir(const Entry &entry);
    bool placeFile(int index);
    void rollBack();

    QZipReader reader;
    QString packagePath;
    QString targetDir;
    QString target; // canonical
    QVector<Entry> entries;
    QHash<QString, bool> kinds; // name key of every path the package fills -> is a folder
    std::optional<QTemporaryDir> staging;
    QVector<Step> steps;
};

Installation::Installation(const QString &packagePath, const QString &targetDir)
    : reader(packagePath)
    , packagePath(packagePath)
    , targetDir(targetDir)
    , target(QFileInfo(targetDir).canonicalFilePath())
{ }

bool Installation::run()
{
    if (target.isEmpty() || !QFileInfo(target).isDir())
        return fail("target directory not found", targetDir);
    return readPackage() && checkLayout() && stage() && moveIntoPlace();
}

bool Installation::fail(const char *reason, const QString &subject)
{
    error = QLatin1String(reason) + QLatin1String(": ") + subject;
    return false;
}

bool Installation::readPackage()
{
    QFile file(packagePath);
    if (reader.status() != QZipReader::NoError || !file.open(QIODevice::ReadOnly))
        return fail("cannot open package", packagePath);
    QVector<CentralRecord> records;
    const QVector<QZipReader::FileInfo> infos = reader.fileInfoList();
    if (!readCentralDirectory(file, records) || records.size() != infos.size())
        return fail("package is not a readable zip archive", packagePath);
    if (records.isEmpty())
        return fail("package holds no entry", packagePath);

    for (int i = 0; i < records.size(); ++i) {
        const QString &name = records.at(i).name;
        const QZipReader::FileInfo &info = infos.at(i);
        if (info.isSymLink)
            return fail("link entry", name);
        if (!info.isValid())
            return fail("unsupported entry", name);
        const bool isDir = info.isDir || name.endsWith(QLatin1Char('/'));
        const QString path = isDir && name.endsWith(QLatin1Char('/')) ? name.chopped(1) : name;
        if (!isPlainRelativePath(path))
            return fail("unsafe entry name", name);
        if (info.size > maxEntrySize)
            return fail("entry too large", name);
        entries.append({ name, path, isDir, records.at(i).unixMode, info.permissions, info.crc,
                         info.size });
    }
    return true;
}

// Refuses duplicates, a name used both as file and as folder, and folders of the target that are
// links leading out of it.
bool Installation::checkLayout()
{
    QStringList dirs;
    for (const Entry &entry : qAsConst(entries)) {
        const QStringList parts = entry.path.split(QLatin1Char('/'));
        QString path;
        for (int i = 0; i < parts.size(); ++i) {
            path += (i > 0 ? QLatin1String("/") : QLatin1String()) + parts.at(i);
            const bool isDir = entry.isDir || i + 1 < parts.size();
            const auto known = kinds.constFind(nameKey(path));
            if (known == kinds.cend()) {
                kinds.insert(nameKey(path), isDir);
                if (isDir)
                    dirs.append(path);
            } else if (!isDir || !known.value()) {
                return fail("entry clashes with another entry", entry.storedName);
            }
        }
    }
    for (const QString &dir : qAsConst(dirs)) {
        const QFileInfo existing(target + QLatin1Char('/') + dir);
        if (existing.isSymLink() && !isInsideTarget(existing.canonicalFilePath()))
            return fail("entry leads outside the target directory", dir);
    }
    return true;
}

bool Installation::isInsideTarget(const QString &canonicalPath) const
{
    return !canonicalPath.isEmpty()
            && (canonicalPath == target || canonicalPath.startsWith(target + QLatin1Char('/')));
}

bool Installation::stage()
{
    staging.emplace(target + QLatin1String("/.updater-staging-XXXXXX"));
    if (!staging->isValid())
        return fail("cannot create staging folder", target);
    if (kinds.contains(nameKey(QFileInfo(staging->path()).fileName())))
        return fail("entry clashes with the staging folder", staging->path());

    for (int i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries.at(i);
        if (entry.isDir)
            continue;
        // QZipReader checks no CRC and hands out whatever a damaged entry inflates to.
        const QByteArray data = reader.fileData(entry.storedName);
        if (data.size() != entry.size || crc32(data) != entry.crc)
            return fail("damaged entry", entry.storedName);
        QFile out(stagedPath(i));
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.flush())
            return fail("cannot write", out.fileName());
    }
    return true;
}

QString Installation::stagedPath(int index) const
{
    return staging->filePath(QString::number(index));
}

bool Installation::moveIntoPlace()
{
    for (int i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries.at(i);
        if (!(entry.isDir ? placeDir(entry) : placeFile(i))) {
            rollBack();
            return false;
        }
    }
    return true;
}

bool Installation::makeDirs(const QString &relativePath)
{
    QString path = target;
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        if (QFileInfo(path).isDir())
            continue;
        // Fails as well where a file or a link already has the name.
        if (!QDir().mkdir(path))
            return fail("cannot create folder", path);
        steps.append({ Step::CreatedDir, path, QString() });
    }
    return true;
}

bool Installation::placeDir(const Entry &entry)
{
    const QString path = target + QLatin1Char('/') + entry.path;
    const bool existed = QFileInfo(path).isDir();
    if (!makeDirs(entry.path))
        return false;
    // A folder that was already there keeps its permissions.
    const QFile::Permissions permissions
            = entry.permissions | QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!existed && entry.unixMode && !QFile::setPermissions(path, permissions))
        return fail("cannot set permissions of", path);
    return true;
}

bool Installation::placeFile(int index)
{
    const Entry &entry = entries.at(index);
    const int slash = entry.path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0 && !makeDirs(entry.path.left(slash)))
        return false;

    const QString path = target + QLatin1Char('/') + entry.path;
    const QString staged = stagedPath(index);
    const QFileInfo existing(path);
    const bool replaces = existing.exists() || existing.isSymLink();
    if (existing.isDir() && !existing.isSymLink())
        return fail("a folder stands in the way of", path);

    // The archive's mode wins when it has one, but a replaced program stays executable; without
    // one, the new file takes over the mode of the file it replaces.
    std::optional<QFile::Permissions> permissions;
    if (entry.unixMode) {
        permissions = entry.permissions | QFile::ReadOwner | QFile::WriteOwner
                | (replaces ? existing.permissions() & executeBits : QFile::Permissions());
    } else if (replaces) {
        permissions = existing.permissions();
    }
    if (permissions && !QFile::setPermissions(staged, *permissions))
        return fail("cannot set permissions of", path);

    if (replaces) {
        const QString backup = staging->filePath(QLatin1String("old-") + QString::number(index));
        if (!QFile::rename(path, backup))
            return fail("cannot replace", path);
        steps.append({ Step::MovedAside, path, backup });
    }
    if (!QFile::rename(staged, path))
        return fail("cannot place", path);
    steps.append({ Step::Placed, path, QString() });
    return true;
}

void Installation::rollBack()
{
    bool undone = true;
    for (auto step = steps.crbegin(); step != steps.crend(); ++step) {
        switch (step->kind) {
        case Step::Placed:
            undone &= QFile::remove(step->path);
            break;
        case Step::MovedAside:
            undone &= QFile::rename(step->backup, step->path);
            break;
        case Step::CreatedDir:
            undone &= QDir().rmdir(step->path);
            break;
        }
    }
    if (!undone) {
        // The staging folder may still hold replaced files; deleting it would lose them for good.
        staging->setAutoRemove(false);
        error += QLatin1String("; could not undo everything, replaced files are kept in ")
                + staging->path();
    }
}

} // namespace

PackageInstaller::PackageInstaller(const QString &packagePath, const QString &targetDir)
    : packagePath(packagePath)
    , targetDir(targetDir)
{ }

bool PackageInstaller::install()
{
    Installation installation(packagePath, targetDir);
    const bool installed = installation.run();
    error = installation.error;
    return installed;
}

QString PackageInstaller::errorString() const
{
    return error;
}
