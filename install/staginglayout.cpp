#include "install/staginglayout.h"

#include "platform/nativedir.h"

namespace {

// Files go into folders of 256. In one folder of 65,535 names every create and rename costs
// several times more, and on ext4 the cost of finding a free inode grows with the folder's size.
constexpr int bucketSize = 256;

} // namespace

QString StagingLayout::prefix()
{
    return QStringLiteral(".updater-staging-");
}

QString StagingLayout::bucketName(int index)
{
    return QLatin1Char('b') + QString::number(bucketNumber(index));
}

QStringList StagingLayout::bucketNames(int count)
{
    QStringList names;
    for (int index = 0; index < count; index += bucketSize)
        names.append(bucketName(index));
    return names;
}

int StagingLayout::bucketNumber(int index)
{
    return index / bucketSize;
}

QString StagingLayout::stagedName(int index)
{
    return QString::number(index);
}

QString StagingLayout::backupName(int index)
{
    return QLatin1String("old-") + QString::number(index);
}

// Two copies, so that one damaged copy does not lose the plan.
QStringList StagingLayout::journalNames()
{
    return { QStringLiteral("journal-1"), QStringLiteral("journal-2") };
}

QString StagingLayout::doneName()
{
    return QStringLiteral("journal.done");
}

QString StagingLayout::undoneName()
{
    return QStringLiteral("journal.undone");
}

bool StagingLayout::isSettled(const NativeDir &staging)
{
    return staging.kindOf(doneName()) == NativeDir::Kind::File
            || staging.kindOf(undoneName()) == NativeDir::Kind::File;
}

bool StagingLayout::hasPlan(const NativeDir &staging)
{
    for (const QString &name : journalNames()) {
        if (staging.kindOf(name) != NativeDir::Kind::Missing)
            return true;
    }
    return false;
}

bool StagingLayout::hasBackups(const NativeDir &staging)
{
    for (const QString &name : staging.entryNames()) {
        if (!name.startsWith(QLatin1Char('b')))
            continue;
        const NativeDir bucket = staging.openFolder(name);
        for (const QString &inside : bucket.entryNames()) {
            if (inside.startsWith(QLatin1String("old-")))
                return true;
        }
    }
    return false;
}

bool StagingLayout::remove(const NativeDir &target, const QString &name)
{
    {
        const NativeDir staging = target.openFolder(name);
        if (!staging.isValid())
            return false;
        const QStringList markers { doneName(), undoneName() };
        bool removed = true;
        for (const QString &entry : staging.entryNames()) {
            if (!markers.contains(entry))
                removed &= staging.removeTree(entry);
        }
        for (const QString &marker : markers) {
            if (removed && staging.kindOf(marker) != NativeDir::Kind::Missing)
                removed = staging.removeTree(marker);
        }
        if (!removed)
            return false;
    }
    // The folder's own handle is closed: Windows deletes a folder only once none is open.
    return target.removeFolder(name);
}
