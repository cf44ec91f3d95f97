#ifndef REMOVALS_H
#define REMOVALS_H

#include "platform/fileidentity.h"

#include <QString>
#include <QStringList>
#include <QVector>

class NativeDir;
class PackagePlan;
class RemovalList;

// Which files of a removal list go from a target. Only a plain file whose content is one of the
// listed versions is the release's; whatever else stands at a listed path (a file the user
// changed, a folder, a link) is the user's and stays. The target is read through folder handles
// that never follow a link, and nothing in it is changed here.
class Removals
{
public:
    struct File
    {
        QString path; // relative to the target
        FileIdentity identity; // of the file whose content was checked
    };

    // The most entries and removals of one install: the journal's indexes.
    static constexpr int maxTotal = 100000;

    // False when the list contradicts the plan: it names a path the package fills, or the two
    // together pass the bound. A refusal says why in errorString().
    bool judge(const NativeDir &target, const RemovalList &list, const PackagePlan &plan);
    QString errorString() const { return error; }

    // In the list's order.
    const QVector<File> &removed() const { return going; }
    // "removed PATH" and "kept PATH (changed by the user)", in the list's order.
    const QStringList &lines() const { return said; }
    // The files of paths changed after they were judged and were kept: their lines say so.
    void keepChanged(const QStringList &paths);
    // The folders above the removed files that the package does not fill, deepest first: once the
    // install is done, each that is then empty goes too.
    QStringList emptiedFolders(const PackagePlan &plan) const;

private:
    bool isListedVersion(const NativeDir &parent, const QString &name,
                         const QVector<QByteArray> &digests, FileIdentity *identity) const;

    QVector<File> going;
    QStringList said;
    QString error;
};

#endif // REMOVALS_H
