#ifndef INSTALLJOURNAL_H
#define INSTALLJOURNAL_H

#include <QString>
#include <QStringList>
#include <QVector>

// The plan of one install's moves, kept in its staging folder so that a crash part-way can be
// undone at the next start. Staged file N is "N" in a bucket folder of the staging folder, the
// file it replaces goes aside to "old-N" beside it; which moves happened is read from which of the
// two still exist, so nothing is written during the moves themselves.
class InstallJournal
{
public:
    struct File
    {
        int index;
        QString path; // relative to the target
    };

    InstallJournal(const QString &stagingDir, const QString &targetDir);

    // The folder that holds staged file index and its backup; the installer creates it.
    QString bucketPath(int index) const;
    // Every bucket folder that entries 0 to count - 1 use, in order.
    QStringList bucketPaths(int count) const;
    QString stagedPath(int index) const;
    QString backupPath(int index) const;

    // Writes the plan (folders to create, parents first, then the files in the order they are
    // moved) and makes it and every staged file durable before the first move.
    bool write(const QStringList &newDirs, const QVector<File> &files);
    // Marks the install as finished: from now on the staging folder is only rubbish.
    bool commit();
    // Undoes whatever part of the plan has been carried out, in reverse; true when all of it is
    // undone, so the staging folder may go.
    bool rollBack() const;

    // The folder name prefix that marks staging folders; no entry may use it.
    static QString stagingPrefix();
    // Rolls back or clears every staging folder in targetDir.
    static void recover(const QString &targetDir);

private:
    bool read();

    QString staging;
    QString target;
    QStringList newDirs;
    QVector<File> files;
};

#endif // INSTALLJOURNAL_H
