#ifndef NATIVEDIR_H
#define NATIVEDIR_H

#include "platform/fileidentity.h"
#include "platform/nativefile.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QFile;

// A folder held open by its handle. Every call below works relative to that handle and never
// follows a link in the names it is given, so a folder or a file swapped for a link (or, on
// Windows, any reparse point) at any moment cannot carry a create, a move or a removal outside
// the tree it was opened in. Names are single path components unless said otherwise. The
// folder stays the same folder while it is held, whatever is renamed around it.
class NativeDir
{
public:
    enum class Kind { Missing, File, Folder, Link, Other };

    NativeDir() = default;
    ~NativeDir();
    NativeDir(NativeDir &&other) noexcept;
    NativeDir &operator=(NativeDir &&other) noexcept;
    NativeDir(const NativeDir &) = delete;
    NativeDir &operator=(const NativeDir &) = delete;

    // The folder at an absolute path, links on the way followed: only for a path the caller
    // trusts (the canonical application folder).
    static NativeDir open(const QString &path);
    bool isValid() const;

    // The child folder name; invalid when it is missing, not a folder, or a link.
    NativeDir openFolder(const QString &name) const;
    // The folder at a '/'-separated relative path, each step as openFolder, empty parts skipped;
    // an empty path opens this folder again.
    NativeDir openPath(const QString &relative) const;

    // The names in the folder, without "." and "..".
    QStringList entryNames() const;
    // What name is, without following a link.
    Kind kindOf(const QString &name) const;
    FileIdentity idOf(const QString &name) const;
    // Unix permission bits of what name leads to, a link followed; -1 where nothing is there.
    // Windows knows only read-only: 0444 or 0666.
    int modeOf(const QString &name) const;
    // Sets the permission bits of a file (not through a link); on Windows the owner's write bit
    // decides the read-only attribute.
    bool setMode(const QString &name, int mode) const;

    // Fails where anything has the name already.
    bool makeFolder(const QString &name) const;
    // An empty folder only.
    bool removeFolder(const QString &name) const;
    // Whatever name is: a folder with everything below it, anything else (a link too) itself.
    // Links are removed, never followed.
    bool removeTree(const QString &name) const;
    // A new file with the given Unix mode (exactly, whatever the umask); fails where the name
    // exists, also as a link.
    bool createFile(const QString &name, int mode, NativeFile *file) const;
    // Hands name to file, open in mode at its first byte: with QIODevice::NewOnly a new file (0600
    // on Unix) that fails where anything has the name, else an existing plain file that has no
    // other name (through a hard link, writes would change a file elsewhere too).
    bool openFile(const QString &name, QIODevice::OpenMode mode, QFile *file) const;
    // A file or a link itself, never a folder.
    bool removeFile(const QString &name) const;
    // The whole content of the file name, when it is a plain file of at most maxBytes.
    bool readFile(const QString &name, qint64 maxBytes, QByteArray *content) const;
    // Moves from, in this folder, to toName in folder to, in one step. Fails where toName
    // exists already, and never copies: both must be on one volume.
    bool moveNew(const QString &from, const NativeDir &to, const QString &toName) const;

    // Makes everything written to this folder's volume so far durable. Windows offers that only
    // to administrators: there each file is made durable as it closes.
    bool flush() const;

    // The system's words for the last call that failed on this folder.
    QString errorString() const;

private:
    qintptr handle = -1;
    mutable QString error;
};

#endif // NATIVEDIR_H
