#ifndef STAGINGLAYOUT_H
#define STAGINGLAYOUT_H

#include <QString>
#include <QStringList>

class NativeDir;

// The names inside an install's staging folder, and what they say of it. Staged file N is "N"
// in a bucket folder; the file it replaces goes aside to "old-N" beside it; the journal and the
// markers of a finished install and of a complete undo lie at the top.
class StagingLayout
{
public:
    // The folder name prefix that marks staging folders; no entry may use it.
    static QString prefix();
    // The folder that holds staged file index and its backup; the installer creates each one.
    static QString bucketName(int index);
    static QStringList bucketNames(int count);
    // Which bucket index lies in: neighbouring indexes share one.
    static int bucketNumber(int index);
    static QString stagedName(int index);
    static QString backupName(int index);
    // The journal's two copies.
    static QStringList journalNames();
    static QString doneName();
    static QString undoneName();

    // Whether staging has either marker (what is left of it is then rubbish), and whether
    // anything says moves may have begun.
    static bool isSettled(const NativeDir &staging);
    static bool hasPlan(const NativeDir &staging);
    static bool hasBackups(const NativeDir &staging);
    // Removes the staging folder name of target, its markers last: a removal cut short (a
    // replaced program still running on Windows cannot be deleted, only moved) leaves a folder
    // that is still marked, to be removed at the next start.
    static bool remove(const NativeDir &target, const QString &name);
};

#endif // STAGINGLAYOUT_H
