#ifndef INSTALLATION_H
#define INSTALLATION_H

#include "install/installerror.h"
#include "install/installjournal.h"
#include "install/removals.h"
#include "platform/nativedir.h"

#include <QString>
#include <QVector>

#include <atomic>
#include <memory>

class ArchiveReader;
class FileMaker;
class PackagePlan;
class QIODevice;
struct archive_entry;

// One run of the installation of a package whose plan has passed its checks: the checks that
// need the target, then the files streamed into a staging folder inside it, then moved into
// place under a journal, all or nothing.
class Installation
{
public:
    // package and maker (which has read it) outlive the installation; cancelled is polled
    // between pieces and files.
    Installation(QIODevice *package, FileMaker &maker, const QString &targetDir,
                 const std::atomic<bool> &cancelled);

    // Checks the target, judges which listed files of older releases go, then inflates every
    // file into the staging folder, each held to its declared size. On failure the staging
    // folder is gone again and the target as it was.
    bool stage();
    // After stage(): moves the staged files into place and the removed ones aside; a failure is
    // rolled back as far as it can be. Once done, the folders the removals emptied go too.
    bool commit();
    // After stage(): "removed PATH" and "kept PATH (changed by the user)", for the log.
    const QStringList &notes() const { return removals.lines(); }

    InstallError error() const;
    QString errorString() const;

private:
    using Error = InstallError;

    bool fail(Error why, const QString &what, const QString &subject);
    bool checkExistingLinks();
    bool checkFreeSpace();
    bool makeStaging();
    bool stageFiles();
    bool stageFile(ArchiveReader &reader, archive_entry *header, int index, qint64 &total);
    void removeStaging();
    void removeEmptiedFolders();

    QIODevice *package;
    FileMaker &maker;
    const PackagePlan &plan;
    QString targetDir;
    QString target; // canonical
    const std::atomic<bool> &cancelled;
    NativeDir targetHandle;
    QVector<FileIdentity> staged; // by entry; invalid for a folder
    Removals removals;
    QString stagingName;
    std::unique_ptr<InstallJournal> journal;
    Error kind = Error::NoError;
    QString reason;
};

#endif // INSTALLATION_H
