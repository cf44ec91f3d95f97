#ifndef PARTIALRECORD_H
#define PARTIALRECORD_H

#include <QByteArray>
#include <QString>
#include <QUrl>

class NativeDir;
class QFile;

// The one partial download that a failure may leave in the download folder, so that the next
// download of the same address goes on where it stopped: a small text file beside "<name>.part"
// that tells the address, the validator and complete length of the server's answer, and the bytes
// saved. Its format is strict and bounded; a record that does not fit it, or whose partial file
// has another size, is thrown away with that file. Read and written only under the update lock,
// through the folder's handle.
class PartialRecord
{
public:
    // The folder's record when it is of url and its partial file is as it says, that file then
    // open in part for reading and writing, at its end, from this moment on. The record file is
    // taken out of the folder (a later failure writes it anew), and everything else goes: a
    // record of another address or one that does not hold, with its partial file, and every other
    // ".part" (what a crash left), a link too. Invalid when there is nothing to go on with.
    static PartialRecord take(const NativeDir &folder, const QUrl &url, QFile *part);
    // Writes the record into the folder; false when it cannot, or would be over its bound.
    bool save(const NativeDir &folder) const;
    bool isValid() const;

    // Whether a file of that name in the download folder could be the record, in any case: such a
    // name is no name for a download.
    static bool isRecordName(const QString &name);

    QUrl url;
    QString name; // of the final file; the partial file is "<name>.part"
    QByteArray validator;
    qint64 complete = -1;
    qint64 saved = 0;
};

#endif // PARTIALRECORD_H
