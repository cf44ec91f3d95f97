#include "install/removals.h"

#include "common/blake2b512.h"
#include "install/installjournal.h"
#include "install/packageplan.h"
#include "install/removallist.h"
#include "platform/nativedir.h"

#include <QFile>
#include <QSet>

#include <algorithm>

namespace {

constexpr qint64 hashPiece = 1024 * 1024;
// The package's paths (at most 4 Mi characters) and the list's, which its size bounds.
static_assert(InstallJournal::sizeBound(Removals::maxTotal,
                                        (qint64(4) << 20) + RemovalList::maxBytes)
                      <= InstallJournal::maxBytes,
              "the journal of the largest plan with removals must stay readable");

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

} // namespace

bool Removals::judge(const NativeDir &target, const RemovalList &list, const PackagePlan &plan)
{
    *this = Removals();
    if (plan.entries().size() + list.items().size() > maxTotal) {
        error = QStringLiteral("too many entries and removals: %1")
                        .arg(plan.entries().size() + list.items().size());
        return false;
    }
    for (const RemovalList::Item &item : list.items()) {
        if (plan.holds(item.path)) {
            error = QStringLiteral("removal of a path the package fills: ") + item.path;
            return false;
        }
    }
    for (const RemovalList::Item &item : list.items()) {
        // A folder on the way that is missing or a link holds nothing of the release's.
        const NativeDir parent = target.openPath(parentOf(item.path));
        const QString name = item.path.mid(item.path.lastIndexOf(QLatin1Char('/')) + 1);
        if (!parent.isValid() || parent.kindOf(name) == NativeDir::Kind::Missing)
            continue;
        FileIdentity identity;
        if (isListedVersion(parent, name, item.digests, &identity)) {
            going.append({ item.path, identity });
            said << QStringLiteral("removed ") + item.path;
        } else {
            said << QStringLiteral("kept %1 (changed by the user)").arg(item.path);
        }
    }
    return true;
}

void Removals::keepChanged(const QStringList &paths)
{
    for (const QString &path : paths) {
        const int line = said.indexOf(QStringLiteral("removed ") + path);
        if (line >= 0)
            said[line] = QStringLiteral("kept %1 (changed by the user)").arg(path);
    }
}

// Read in pieces: an installed file may be larger than memory allows at once. The identity is
// taken before and after, so that a file changed while it was read counts as changed.
bool Removals::isListedVersion(const NativeDir &parent, const QString &name,
                               const QVector<QByteArray> &digests, FileIdentity *identity) const
{
    *identity = parent.idOf(name);
    QFile file;
    if (parent.kindOf(name) != NativeDir::Kind::File
        || !parent.openFile(name, QIODevice::ReadOnly, &file))
        return false;
    Blake2b512 hash;
    for (qint64 done = 0; done < identity->size();) {
        const QByteArray piece = file.read(hashPiece);
        if (piece.isEmpty())
            return false;
        hash.addData(piece);
        done += piece.size();
    }
    return file.atEnd() && parent.idOf(name) == *identity && identity->isValid()
            && digests.contains(hash.result());
}

QStringList Removals::emptiedFolders(const PackagePlan &plan) const
{
    QSet<QString> seen;
    QStringList folders;
    for (const File &file : going) {
        for (QString dir = parentOf(file.path); !dir.isEmpty() && !seen.contains(dir);
             dir = parentOf(dir)) {
            seen.insert(dir);
            if (!plan.holds(dir))
                folders << dir;
        }
    }
    // A folder's path is longer than those of the folders above it.
    std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) {
        return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/'));
    });
    return folders;
}
