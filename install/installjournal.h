#ifndef INSTALLJOURNAL_H
#define INSTALLJOURNAL_H

#include "platform/nativedir.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <map>

// The plan of one install's moves and their undo, kept in its staging folder (StagingLayout) so
// that a crash at any point can be settled at the next start. Which moves happened is
// read from what exists: a file at an entry's path counts as the staged one only when it is the
// very file staged (the plan records its identity), so an undo never removes anything else, and
// undoing moves the new file back to "N" rather than deleting it, so an undo cut short can be
// run again. Every create and move goes through folder handles that never follow a link.
class InstallJournal
{
public:
    struct File
    {
        int index;
        QString path; // relative to the target
        FileIdentity staged; // the staged file's identity; none for a removal
        int mode = 0; // what the staged file was created with
        // A removal: the identity of the installed file to move aside, which nothing replaces.
        // Journalled as a file with no staged identity, whose undo only puts the backup back.
        FileIdentity removes = {};
    };

    // target stays open for the journal's life; stagingName is a folder in it.
    InstallJournal(const NativeDir &target, const QString &stagingName);

    bool isValid() const;
    // The bucket of index, opened once for a run of neighbouring indexes.
    const NativeDir &bucket(int index);
    const NativeDir &staging() const;

    // Writes the plan (folders to create, parents first, then the files in the order they are
    // moved) in two copies with their checksums, and makes them and every staged file durable
    // before the first move.
    bool write(const QStringList &newDirs, const QVector<File> &files);
    // Reads the plan back from whichever copy is whole; false when neither is, or when any of
    // its paths is not a plain relative path inside the target.
    bool read();
    // Creates the folders and moves every file into place, the replaced and removed ones aside.
    // Stops at the first failure or when cancelled turns true; rollBack() then undoes what was
    // done.
    bool carryOut(const std::atomic<bool> &cancelled);
    // After carryOut(): the files to remove that had changed since they were judged, and stayed.
    const QStringList &keptFiles() const { return kept; }
    // Marks the install as finished, durably: from now on the staging folder is only rubbish.
    bool commit();
    // Undoes whatever part of the plan has been carried out, in reverse; true when all of it is
    // undone and nothing of the staging folder is needed any more. A complete undo is then marked,
    // durably, before anything of the staging folder goes: a removal cut short leaves a folder
    // that is only removed at the next start, never undone again.
    bool rollBack();

    // What went wrong last, for the log.
    QString errorString() const;

    // The largest journal the reader takes.
    static constexpr qint64 maxBytes = qint64(128) << 20;
    // At least the size of the journal of a plan of count folders and files whose paths hold
    // characters characters in all: a character takes at most 3 bytes of UTF-8, a record at
    // most 99 besides its path.
    static constexpr qint64 sizeBound(qint64 count, qint64 characters)
    {
        return 128 + count * 100 + characters * 3;
    }

private:
    bool fail(const QString &why);
    const NativeDir &folder(const QString &relative);
    bool writeCopy(const QString &name, const QByteArray &content);
    bool mark(const QString &name);
    bool parse(const QByteArray &content);
    bool placeFile(const File &file);
    bool removeFile(const File &file);
    bool undoFile(const File &file);

    const NativeDir &target;
    NativeDir stagingDir;
    NativeDir currentBucket;
    int currentBucketNumber = -1;
    // Parent folders by relative path, opened once each while they stay few.
    std::map<QString, NativeDir> folders;
    QStringList newDirs;
    int madeDirs = -1; // of newDirs, how many this run made; -1 when read from a crash
    QVector<File> files;
    QStringList kept;
    QString error;
};

#endif // INSTALLJOURNAL_H
