#include "install/installjournal.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const QString planName = QStringLiteral("journal");
const QString doneName = QStringLiteral("journal.done");
const QByteArray magic = "updater-journal 1";

// Flushes everything written under dir to the disk, so that a power cut after the first move
// cannot leave renamed files without their contents.
bool syncTree(const QString &dir)
{
#if defined(Q_OS_LINUX)
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = ::syncfs(fd) == 0;
    ::close(fd);
    return synced;
#elif defined(Q_OS_UNIX)
    Q_UNUSED(dir)
    ::sync();
    return true;
#else
    // Windows: NTFS journals the renames, and the staged files were closed; flushing each one
    // would cost one disk round trip per file.
    Q_UNUSED(dir)
    return true;
#endif
}

bool exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

InstallJournal::InstallJournal(const QString &stagingDir, const QString &targetDir)
    : staging(stagingDir)
    , target(targetDir)
{ }

namespace {
// Files go into folders of 256. In one folder of 65,535 names every create and rename costs
// several times more; and ext4 puts each folder's files in one group of inodes, where each new
// inode is found by stepping over those freed in the last half minute, so that cost grows with
// the folder's size (measured with 65,535 files: folders of 1,000 took 1.7 times as long as folders
// of 256, and folders of 128 no less, as the folders themselves then cost more).
constexpr int bucketSize = 256;
} // namespace

QString InstallJournal::bucketPath(int index) const
{
    return staging + QLatin1String("/b") + QString::number(index / bucketSize);
}

QStringList InstallJournal::bucketPaths(int count) const
{
    QStringList paths;
    for (int index = 0; index < count; index += bucketSize)
        paths.append(bucketPath(index));
    return paths;
}

QString InstallJournal::stagedPath(int index) const
{
    return bucketPath(index) + QLatin1Char('/') + QString::number(index);
}

QString InstallJournal::backupPath(int index) const
{
    return bucketPath(index) + QLatin1String("/old-") + QString::number(index);
}

QString InstallJournal::stagingPrefix()
{
    return QStringLiteral(".updater-staging-");
}

bool InstallJournal::write(const QStringList &dirs, const QVector<File> &plannedFiles)
{
    newDirs = dirs;
    files = plannedFiles;
    // Paths hold no control characters (the entry rules refuse them), so a line is a record.
    QSaveFile out(staging + QLatin1Char('/') + planName);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(magic + '\n');
    for (const QString &dir : dirs)
        out.write("D " + dir.toUtf8() + '\n');
    for (const File &file : plannedFiles)
        out.write("F " + QByteArray::number(file.index) + ' ' + file.path.toUtf8() + '\n');
    return out.commit() && syncTree(staging);
}

bool InstallJournal::read()
{
    QFile in(staging + QLatin1Char('/') + planName);
    if (!in.open(QIODevice::ReadOnly) || in.readLine().trimmed() != magic)
        return false;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        if (!line.endsWith('\n'))
            return false;
        const QByteArray record = line.chopped(1);
        if (record.startsWith("D ")) {
            newDirs.append(QString::fromUtf8(record.mid(2)));
        } else if (record.startsWith("F ")) {
            const int space = record.indexOf(' ', 2);
            bool ok = false;
            const int index = record.mid(2, space - 2).toInt(&ok);
            if (space < 0 || !ok)
                return false;
            files.append({ index, QString::fromUtf8(record.mid(space + 1)) });
        } else {
            return false;
        }
    }
    return true;
}

bool InstallJournal::commit()
{
    const bool renamed = QFile::rename(staging + QLatin1Char('/') + planName,
                                       staging + QLatin1Char('/') + doneName);
    return renamed && syncTree(staging);
}

bool InstallJournal::rollBack() const
{
    bool undone = true;
    for (auto file = files.crbegin(); file != files.crend(); ++file) {
        const QString path = target + QLatin1Char('/') + file->path;
        // A staged file that is gone has been moved into place: what stands there is ours.
        if (!exists(stagedPath(file->index)) && exists(path))
            undone &= QFile::remove(path);
        if (exists(backupPath(file->index)))
            undone &= QFile::rename(backupPath(file->index), path);
    }
    for (auto dir = newDirs.crbegin(); dir != newDirs.crend(); ++dir) {
        const QString path = target + QLatin1Char('/') + *dir;
        if (QFileInfo(path).isDir())
            undone &= QDir().rmdir(path);
    }
    return undone;
}

void InstallJournal::recover(const QString &targetDir)
{
    const QDir dir(targetDir);
    const QStringList stale = dir.entryList({ stagingPrefix() + QLatin1Char('*') },
                                            QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : stale) {
        const QString staging = dir.filePath(name);
        InstallJournal journal(staging, dir.path());
        // Without a plan nothing was moved yet; with a finished one nothing is left to undo.
        if (QFile::exists(staging + QLatin1Char('/') + planName)) {
            if (!journal.read() || !journal.rollBack()) {
                qWarning("could not roll back the interrupted install, its files are kept in %s",
                         qPrintable(staging));
                continue;
            }
            qWarning("rolled back an interrupted install: %s", qPrintable(staging));
        }
        QDir(staging).removeRecursively();
    }
}
