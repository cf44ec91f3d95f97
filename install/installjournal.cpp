#include "install/installjournal.h"

#include "install/entrypath.h"
#include "install/staginglayout.h"

#include <QCryptographicHash>

#include <algorithm>
#include <iterator>

namespace {

const QByteArray magic = "updater-journal 2";
// Each copy is written under a temporary name first, so a copy that exists was written whole
// (its checksum says so again).
const QString newSuffix = QStringLiteral(".new");
constexpr int maxIndex = 100000;
// Parent folders held open at once; past this the cache starts again. Packages spread their
// files over their folders in any order (the install benchmark's 65,535 files go round 256
// folders), and each miss costs opening the path again; the bound keeps well inside the 1,024
// descriptors a process gets by default.
constexpr std::size_t maxOpenFolders = 512;

QByteArray checksum(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A path from a journal passes the rules of a package entry, so it names nothing outside the
// target and nothing of the updater's own.
bool isPlannedPath(const QString &path)
{
    return EntryPath::problem(path).isEmpty()
            && !path.section(QLatin1Char('/'), 0, 0)
                        .toCaseFolded()
                        .startsWith(StagingLayout::prefix().toCaseFolded());
}

} // namespace

InstallJournal::InstallJournal(const NativeDir &target, const QString &stagingName)
    : target(target)
    , stagingDir(target.openFolder(stagingName))
{ }

bool InstallJournal::isValid() const
{
    return stagingDir.isValid();
}

const NativeDir &InstallJournal::bucket(int index)
{
    if (StagingLayout::bucketNumber(index) != currentBucketNumber) {
        currentBucket = stagingDir.openFolder(StagingLayout::bucketName(index));
        currentBucketNumber = StagingLayout::bucketNumber(index);
    }
    return currentBucket;
}

const NativeDir &InstallJournal::staging() const
{
    return stagingDir;
}

bool InstallJournal::fail(const QString &why)
{
    if (error.isEmpty())
        error = why;
    return false;
}

const NativeDir &InstallJournal::folder(const QString &relative)
{
    if (relative.isEmpty())
        return target;
    auto known = folders.find(relative);
    if (known != folders.end())
        return known->second;
    if (folders.size() >= maxOpenFolders)
        folders.clear();
    return folders.emplace(relative, target.openPath(relative)).first->second;
}

bool InstallJournal::write(const QStringList &dirs, const QVector<File> &plannedFiles)
{
    newDirs = dirs;
    files = plannedFiles;
    madeDirs = 0;
    // Paths hold no control characters (the entry rules refuse them), so a line is a record.
    QByteArray content = magic + '\n';
    for (const QString &dir : dirs)
        content += "D " + dir.toUtf8() + '\n';
    for (const File &file : plannedFiles)
        content += "F " + QByteArray::number(file.index) + ' '
                + QByteArray::number(file.staged.volume()) + ' '
                + QByteArray::number(file.staged.index()) + ' '
                + QByteArray::number(file.staged.size()) + ' '
                + QByteArray::number(file.staged.modified()) + ' ' + file.path.toUtf8() + '\n';
    content += "C " + checksum(content) + '\n';
    for (const QString &name : StagingLayout::journalNames()) {
        if (!writeCopy(name, content))
            return false;
    }
    // The staged files' contents too: a power cut after the first move must not leave renamed
    // files without their bytes.
    return stagingDir.flush() || fail(QStringLiteral("cannot flush the staged files"));
}

bool InstallJournal::writeCopy(const QString &name, const QByteArray &content)
{
    NativeFile out;
    const bool written = stagingDir.createFile(name + newSuffix, 0600, &out)
            && out.write(content.constData(), content.size()) && out.flush() && out.close()
            && stagingDir.moveNew(name + newSuffix, stagingDir, name);
    return written
            || fail(QStringLiteral("cannot write the install journal: ")
                    + stagingDir.errorString());
}

bool InstallJournal::read()
{
    for (const QString &name : StagingLayout::journalNames()) {
        QByteArray content;
        if (stagingDir.readFile(name, maxBytes, &content) && parse(content))
            return true;
    }
    return fail(QStringLiteral("no whole journal of ours"));
}

bool InstallJournal::parse(const QByteArray &content)
{
    newDirs.clear();
    files.clear();
    madeDirs = -1;
    // The checksum line closes the journal: "C ", 64 hex digits, a line end.
    constexpr int checksumLine = 2 + 64 + 1;
    const int bodySize = content.size() - checksumLine;
    if (bodySize <= magic.size() || !content.endsWith('\n') || content.mid(bodySize, 2) != "C "
        || content.mid(bodySize + 2, 64) != checksum(content.left(bodySize))
        || !content.startsWith(magic + '\n'))
        return false;
    QVector<bool> seen(maxIndex, false);
    const QList<QByteArray> lines = content.left(bodySize - 1).split('\n').mid(1);
    for (const QByteArray &line : lines) {
        if (line.startsWith("D ")) {
            const QString dir = QString::fromUtf8(line.mid(2));
            if (!isPlannedPath(dir) || !files.isEmpty())
                return false;
            newDirs.append(dir);
            continue;
        }
        // "F", index, volume, file index, size, time, then the path, which may hold spaces.
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7 || fields.first() != "F")
            return false;
        bool numbers[5] = {};
        const int index = fields.at(1).toInt(&numbers[0]);
        const FileIdentity staged { fields.at(2).toULongLong(&numbers[1]),
                                    fields.at(3).toULongLong(&numbers[2]),
                                    fields.at(4).toLongLong(&numbers[3]),
                                    fields.at(5).toLongLong(&numbers[4]) };
        int pathStart = 0;
        for (int field = 0; field < 6; ++field)
            pathStart += fields.at(field).size() + 1;
        const QString path = QString::fromUtf8(line.mid(pathStart));
        if (!std::all_of(std::begin(numbers), std::end(numbers), [](bool ok) { return ok; })
            || index < 0 || index >= maxIndex || seen.at(index) || !isPlannedPath(path))
            return false;
        seen[index] = true;
        files.append({ index, path, staged });
    }
    return true;
}

bool InstallJournal::carryOut(const std::atomic<bool> &cancelled)
{
    for (const QString &dir : qAsConst(newDirs)) {
        // Fails as well where a file or a link already has the name, or a link is on the way.
        if (!folder(parentOf(dir)).makeFolder(nameOf(dir)))
            return fail(QStringLiteral("cannot create folder: ") + dir);
        ++madeDirs;
    }
    for (const File &file : qAsConst(files)) {
        if (cancelled)
            return fail(QStringLiteral("cancelled"));
        if (!(file.removes.isValid() ? removeFile(file) : placeFile(file)))
            return false;
    }
    return true;
}

bool InstallJournal::placeFile(const File &file)
{
    const NativeDir &parent = folder(parentOf(file.path));
    if (!parent.isValid())
        return fail(QStringLiteral("entry leads through a link: ") + file.path);
    const NativeDir &from = bucket(file.index);
    const QString staged = StagingLayout::stagedName(file.index);
    const QString name = nameOf(file.path);
    // Most files are new to the target: one call places them, and finds those it must not.
    if (from.moveNew(staged, parent, name))
        return true;
    switch (parent.kindOf(name)) {
    case NativeDir::Kind::Missing:
        return fail(QStringLiteral("cannot place: ") + file.path + QLatin1String(" (")
                    + from.errorString() + QLatin1Char(')'));
    case NativeDir::Kind::Folder:
        return fail(QStringLiteral("a folder stands in the way of: ") + file.path);
    default:
        break;
    }
    // The archive's mode wins, but a replaced program stays executable: through a link, the
    // program is what the link leads to.
    const int existing = parent.modeOf(name);
    const int executable = existing < 0 ? 0 : existing & 0111;
    if ((executable & ~file.mode) && !from.setMode(staged, file.mode | executable))
        return fail(QStringLiteral("cannot set permissions of: ") + file.path);
    // The replaced file is only moved aside: it goes with the staging folder once the install
    // is marked done.
    if (!parent.moveNew(name, from, StagingLayout::backupName(file.index)))
        return fail(QStringLiteral("cannot replace: ") + file.path);
    if (!from.moveNew(staged, parent, name))
        return fail(QStringLiteral("cannot place: ") + file.path);
    return true;
}

// Only the very file whose content was checked goes; one changed since is the user's and stays.
bool InstallJournal::removeFile(const File &file)
{
    const NativeDir &parent = folder(parentOf(file.path));
    const QString name = nameOf(file.path);
    if (!parent.isValid() || parent.idOf(name) != file.removes) {
        kept << file.path;
        return true;
    }
    const NativeDir &to = bucket(file.index);
    return parent.moveNew(name, to, StagingLayout::backupName(file.index))
            || fail(QStringLiteral("cannot remove: ") + file.path + QLatin1String(" (")
                    + parent.errorString() + QLatin1Char(')'));
}

bool InstallJournal::commit()
{
    return mark(StagingLayout::doneName())
            || fail(QStringLiteral("cannot finish the install journal: ")
                    + stagingDir.errorString());
}

bool InstallJournal::mark(const QString &name)
{
    // A marker left by an earlier run of the same undo counts as well.
    if (stagingDir.kindOf(name) == NativeDir::Kind::File)
        return true;
    NativeFile marker;
    return stagingDir.createFile(name, 0600, &marker) && marker.flush() && marker.close()
            && stagingDir.flush();
}

bool InstallJournal::rollBack()
{
    bool undone = true;
    for (auto file = files.crbegin(); file != files.crend(); ++file)
        undone &= undoFile(*file);
    const int made = madeDirs < 0 ? newDirs.size() : madeDirs;
    for (int i = made - 1; i >= 0; --i) {
        const QString &dir = newDirs.at(i);
        const NativeDir &parent = folder(parentOf(dir));
        if (parent.kindOf(nameOf(dir)) == NativeDir::Kind::Missing)
            continue;
        // Our own handle goes first: where a folder is deleted only once its last handle closes
        // (Windows without POSIX deletion, as on FAT, network shares and Wine), it would keep
        // the folder, and so its parent, in place.
        folders.erase(dir);
        // What someone else put into a folder of ours since is theirs: the folder stays.
        if (!parent.removeFolder(nameOf(dir)))
            qWarning("install roll-back keeps the folder %s: %s", qPrintable(dir),
                     qPrintable(parent.errorString()));
    }
    // Unmarked, a removal cut short is undone once more at the next start, which finds nothing
    // left to put back: slower, not wrong.
    if (undone && !mark(StagingLayout::undoneName()))
        qWarning("cannot mark the undo finished: %s", qPrintable(stagingDir.errorString()));
    return undone;
}

bool InstallJournal::undoFile(const File &file)
{
    const NativeDir &parent = folder(parentOf(file.path));
    const NativeDir &from = bucket(file.index);
    const QString name = nameOf(file.path);
    // Only the very file that was staged is taken back; anything else at the path stays.
    if (parent.isValid() && file.staged.isValid() && parent.idOf(name) == file.staged
        && !parent.moveNew(name, from, StagingLayout::stagedName(file.index)))
        return fail(QStringLiteral("cannot take back: ") + file.path);
    // A bucket that is gone holds no backup: there is nothing to put back.
    if (!from.isValid()
        && stagingDir.kindOf(StagingLayout::bucketName(file.index)) == NativeDir::Kind::Missing)
        return true;
    if (from.kindOf(StagingLayout::backupName(file.index)) == NativeDir::Kind::Missing)
        return true;
    if (parent.isValid() && from.moveNew(StagingLayout::backupName(file.index), parent, name))
        return true;
    // Another file stands at the path now, or its folder is gone: both are kept.
    return fail(QStringLiteral("cannot put back: ") + file.path);
}

QString InstallJournal::errorString() const
{
    return error;
}
