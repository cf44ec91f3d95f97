#ifndef PACKAGEPLAN_H
#define PACKAGEPLAN_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <utility>

class ArchiveReader;
class QIODevice;
struct archive_entry;

// What a package would write, and every check that can be made of it before a byte is: the
// entry counts, the limits, the Windows naming rules, the kinds of entry, their declared sizes
// against the package's own, the updater's own folders and clashes between entries. It reads the
// package alone, never the disk, so that it can judge bytes held in memory; what needs the
// target (links in it, its free space) is checked by the Installation.
class PackagePlan
{
public:
    enum class Refusal {
        None,
        Unreadable, // no zip libarchive reads through, one that contradicts itself, or empty
        Unsafe, // a name, kind or place the naming rules or the target forbid, or a clash
        OverLimit, // past the updater's own bounds: entries, names, sizes, inflation
    };

    struct Entry
    {
        QString path; // relative to the target, without a trailing '/'
        bool isDir;
        int mode; // the archive's permission bits
        qint64 size; // as declared; 0 for a folder
    };

    // Reads every header of package (open and seekable) from its start, without inflating
    // anything; name is what a refusal calls the package. False at the first check that fails.
    bool read(QIODevice *package, const QString &name);
    Refusal refusal() const;
    // Why read() refused, for the log; empty when it did not.
    QString errorString() const;

    // Plans a file that is made rather than unpacked (a delta's result), with the same checks
    // of its path, size and place as an entry's. False at the first that fails.
    bool addFile(const QString &path, int mode, qint64 size);

    // In the package's order, one per entry but the removal list.
    const QVector<Entry> &entries() const;
    // Whether the package's first entry is its removal list (RemovalList::entryName()), which is
    // read, not installed.
    bool hasRemovalList() const { return removalList; }
    // Whether the package fills path (relative), as a file or a folder, whatever the case.
    bool holds(const QString &path) const;
    // Every folder the package needs, parents first.
    const QStringList &dirs() const;
    qint64 declaredTotal() const;

    // The most that files made from sourceBytes of package may declare: more is a bomb.
    static qint64 inflationBound(qint64 sourceBytes);

    // An entry's name as a path of the plan. Windows' own tar.exe names the package's top "./"
    // and every entry below it "./name".
    static QString withoutTop(const QString &name);
    // Whether path (relative) lies in the updater's own folder or an install's staging folder.
    static bool isProtected(const QString &path);

private:
    bool fail(Refusal kind, const QString &reason, const QString &subject);
    bool readHeaders(ArchiveReader &reader);
    bool addEntry(archive_entry *header);
    bool takeRemovalList(const QString &path, bool isDir, qint64 size);
    bool addChecked(const Entry &entry, const QString &name);
    bool checkPlace(const QString &key, const QString &name);
    bool addPath(const QString &path, const QString &key, bool isDir, const QString &name);
    // A case-folded path by its digest: the set of everything planned then costs the same
    // whatever the length of the paths.
    using PathKey = std::pair<quint64, quint64>;
    bool note(const PathKey &key, bool isDir, const QString &name);
    static PathKey keyOf(const QString &folded, int characters);

    Refusal kind = Refusal::None;
    QString error;
    QVector<Entry> planned;
    // Key of everything the package fills, entries and the folders they imply -> is a folder.
    QHash<PathKey, bool> kinds;
    QStringList folders;
    qint64 total = 0;
    qint64 nameCharacters = 0;
    bool removalList = false;
};

#endif // PACKAGEPLAN_H
