#include "install/packageplan.h"

#include "install/archivereader.h"
#include "install/entryname.h"
#include "install/entrypath.h"
#include "install/installjournal.h"
#include "install/removallist.h"
#include "install/staginglayout.h"
#include "platform/updatelock.h"

#include <archive.h>
#include <archive_entry.h>

#include <QCryptographicHash>
#include <QIODevice>

#include <cstring>

namespace {

// Entries and the folders their paths imply, together: each is a node in memory, a line of the
// journal and, for a folder, an inode on the disk.
constexpr int maxEntries = 100000;
// The paths of all of them, in characters: a deep path implies a folder at every level, each
// held and journalled whole, so this bounds the plan's memory and the journal's size.
constexpr qint64 maxNameCharacters = 4 * 1024 * 1024;
static_assert(InstallJournal::sizeBound(maxEntries, maxNameCharacters) <= InstallJournal::maxBytes,
              "the journal of the largest plan must stay readable");
// No file of ours comes near this; a bigger declared size is a damaged or hostile header.
constexpr qint64 maxEntrySize = qint64(4) << 30;

const QString unreadable = QStringLiteral("package is not a readable zip archive");

} // namespace

using Refusal = PackagePlan::Refusal;

bool PackagePlan::read(QIODevice *package, const QString &name)
{
    *this = PackagePlan();
    const qint64 claimed = ArchiveReader::claimedEntryCount(*package);
    if (claimed > maxEntries)
        return fail(Refusal::OverLimit, QStringLiteral("too many entries"),
                    QString::number(claimed));
    if (claimed == 0)
        return fail(Refusal::Unreadable, QStringLiteral("package holds no entry"), name);
    ArchiveReader reader(package);
    if (!reader.open())
        return fail(Refusal::Unreadable, unreadable, reader.lastError());
    if (!readHeaders(reader))
        return false;
    if (planned.isEmpty())
        return fail(Refusal::Unreadable, QStringLiteral("package holds no entry"), name);
    // libarchive lists what the central directory holds; an end record that counts otherwise
    // belongs to a cut or patched archive. 0xffff may be a count past 16 bits without zip64.
    const int listed = planned.size() + (removalList ? 1 : 0);
    if (claimed >= 0 && claimed != 0xffff && claimed != listed)
        return fail(Refusal::Unreadable, unreadable,
                    QStringLiteral("the end record counts %1 entries, the directory holds %2")
                            .arg(claimed)
                            .arg(listed));
    if (total > inflationBound(package->size()))
        return fail(Refusal::OverLimit, QStringLiteral("package inflates too far"),
                    QStringLiteral("%1 bytes declared").arg(total));
    return true;
}

PackagePlan::Refusal PackagePlan::refusal() const
{
    return kind;
}

QString PackagePlan::errorString() const
{
    return error;
}

const QVector<PackagePlan::Entry> &PackagePlan::entries() const
{
    return planned;
}

const QStringList &PackagePlan::dirs() const
{
    return folders;
}

qint64 PackagePlan::declaredTotal() const
{
    return total;
}

// Deflate inflates at most about 1,000 times; real programs and data shrink a few times, so a
// package declaring more than 100 times its own size is a bomb, refused before inflating.
qint64 PackagePlan::inflationBound(qint64 sourceBytes)
{
    return sourceBytes * 100 + (qint64(16) << 20);
}

QString PackagePlan::withoutTop(const QString &name)
{
    return name.startsWith(QLatin1String("./")) ? name.mid(2) : name;
}

bool PackagePlan::fail(Refusal why, const QString &reason, const QString &subject)
{
    if (kind == Refusal::None) {
        kind = why;
        error = reason + QLatin1String(": ") + subject;
    }
    return false;
}

bool PackagePlan::readHeaders(ArchiveReader &reader)
{
    archive_entry *header = nullptr;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &header);
        if (status == ARCHIVE_EOF)
            return true;
        if (status != ARCHIVE_OK)
            return fail(Refusal::Unreadable, unreadable, reader.lastError());
        if (planned.size() + (removalList ? 1 : 0) == maxEntries)
            return fail(Refusal::OverLimit, QStringLiteral("too many entries"),
                        QString::number(maxEntries + 1));
        if (!addEntry(header))
            return false;
        // Seekable zips skip by seeking: nothing is inflated in this pass.
        if (archive_read_data_skip(reader.get()) != ARCHIVE_OK)
            return fail(Refusal::Unreadable, unreadable, reader.lastError());
    }
}

bool PackagePlan::addEntry(archive_entry *header)
{
    const QString name = entryName(header);
    if (name.isNull())
        return fail(Refusal::Unsafe, QStringLiteral("unsafe entry name"),
                    QStringLiteral("(not UTF-8)"));
    const auto type = archive_entry_filetype(header);
    if (type == AE_IFLNK || archive_entry_hardlink(header))
        return fail(Refusal::Unsafe, QStringLiteral("link entry"), name);
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_is_encrypted(header))
        return fail(Refusal::Unsafe, QStringLiteral("unsupported entry"), name);
    const bool isDir = type == AE_IFDIR;
    if (isDir && name == QLatin1String("./")) {
        planned.append({ QString(), true, 0, 0 });
        return true;
    }
    QString path = withoutTop(name);
    if (isDir && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!isDir && !archive_entry_size_is_set(header))
        return fail(Refusal::Unsafe, QStringLiteral("unsupported entry"), name);
    const qint64 size = isDir ? 0 : archive_entry_size(header);
    if (path.compare(RemovalList::entryName(), Qt::CaseInsensitive) == 0)
        return takeRemovalList(name, isDir, size);
    return addChecked({ path, isDir, int(archive_entry_perm(header)) & 0777, size }, name);
}

// The list is read before anything else and never installed; anywhere else its name would be
// installed by one updater and read by another.
bool PackagePlan::takeRemovalList(const QString &name, bool isDir, qint64 size)
{
    if (isDir || removalList || !planned.isEmpty() || name != RemovalList::entryName())
        return fail(Refusal::Unsafe, QStringLiteral("entry with a reserved name"), name);
    if (size > RemovalList::maxBytes)
        return fail(Refusal::OverLimit, QStringLiteral("removal list too large"), name);
    removalList = true;
    return true;
}

bool PackagePlan::addFile(const QString &path, int mode, qint64 size)
{
    return addChecked({ path, false, mode & 0777, size }, path);
}

bool PackagePlan::addChecked(const Entry &entry, const QString &name)
{
    nameCharacters += entry.path.size();
    if (nameCharacters > maxNameCharacters)
        return fail(Refusal::OverLimit, QStringLiteral("names too long in total"), name);
    const QString problem = EntryPath::problem(entry.path);
    if (!problem.isEmpty())
        return fail(Refusal::Unsafe, problem, name);
    if (entry.size < 0 || entry.size > maxEntrySize)
        return fail(Refusal::OverLimit, QStringLiteral("entry too large"), name);

    // Windows compares names without case, so the checks do too, whatever the system here.
    const QString key = entry.path.toCaseFolded();
    if (!checkPlace(key, name) || !addPath(entry.path, key, entry.isDir, name))
        return false;
    total += entry.size;
    planned.append(entry);
    return true;
}

// The updater's own folder holds the downloads and the update lock; staging folders the
// installs in flight.
bool PackagePlan::isProtected(const QString &path)
{
    const QString first = path.section(QLatin1Char('/'), 0, 0).toCaseFolded();
    return first == UpdateLock::folderName().toCaseFolded()
            || first.startsWith(StagingLayout::prefix().toCaseFolded());
}

bool PackagePlan::checkPlace(const QString &key, const QString &name)
{
    if (isProtected(key))
        return fail(Refusal::Unsafe, QStringLiteral("entry in a protected folder"), name);
    return true;
}

bool PackagePlan::holds(const QString &path) const
{
    const QString key = path.toCaseFolded();
    return kinds.contains(keyOf(key, key.size()));
}

// Notes path and the folders above it, refusing a file where anything else lies already and
// a folder where a file does; a folder may come again.
bool PackagePlan::addPath(const QString &path, const QString &key, bool isDir, const QString &name)
{
    const QString clash = QStringLiteral("entry clashes with another entry");
    const auto known = kinds.constFind(keyOf(key, key.size()));
    if (known != kinds.cend())
        return isDir && known.value() ? true : fail(Refusal::Unsafe, clash, name);
    if (!note(keyOf(key, key.size()), isDir, name))
        return false;
    // Walk up only until a known folder: every folder is visited once in the whole run, which
    // keeps the checks linear in the entry count.
    QStringList newParents;
    if (isDir)
        newParents.append(path);
    for (int slash = key.lastIndexOf(QLatin1Char('/')); slash > 0;
         slash = key.lastIndexOf(QLatin1Char('/'), slash - 1)) {
        const PathKey folder = keyOf(key, slash);
        const auto parent = kinds.constFind(folder);
        if (parent != kinds.cend()) {
            if (!parent.value())
                return fail(Refusal::Unsafe, clash, name);
            break;
        }
        nameCharacters += slash;
        if (!note(folder, true, name))
            return false;
        newParents.append(path.left(slash));
    }
    for (auto dir = newParents.crbegin(); dir != newParents.crend(); ++dir)
        folders.append(*dir);
    return true;
}

bool PackagePlan::note(const PathKey &key, bool isDir, const QString &name)
{
    if (kinds.size() == maxEntries)
        return fail(Refusal::OverLimit, QStringLiteral("too many entries and folders"), name);
    if (nameCharacters > maxNameCharacters)
        return fail(Refusal::OverLimit, QStringLiteral("names too long in total"), name);
    kinds.insert(key, isDir);
    return true;
}

// The key of folded's first characters. Two paths share one only through a collision of
// SHA-256 cut to 128 bits; at worst a package is then refused, or fails and is undone, for a
// clash it does not have.
PackagePlan::PathKey PackagePlan::keyOf(const QString &folded, int characters)
{
    const QByteArray digest = QCryptographicHash::hash(
            QByteArray::fromRawData(reinterpret_cast<const char *>(folded.constData()),
                                    characters * int(sizeof(QChar))),
            QCryptographicHash::Sha256);
    PathKey key;
    std::memcpy(&key.first, digest.constData(), sizeof key.first);
    std::memcpy(&key.second, digest.constData() + sizeof key.first, sizeof key.second);
    return key;
}
