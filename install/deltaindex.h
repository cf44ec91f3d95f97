#ifndef DELTAINDEX_H
#define DELTAINDEX_H

#include "install/removallist.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class QJsonValue;

// The delta package's delta.json: which files of the new release it makes, and how, and which
// files of the old release it removes. Read from bytes that came off the network, so every value
// is checked and bounded here.
class DeltaIndex
{
public:
    struct File
    {
        QString path; // relative, '/'-separated, as the package's entry is named
        bool patch; // a zstd patch against the installed file; otherwise the file itself
        QByteArray oldDigest; // BLAKE2b-512 of the installed file (patch only), 64 bytes
        QByteArray digest; // BLAKE2b-512 of the result, 64 bytes
        qint64 size; // of the result
        bool executable;
    };

    // Parsed whole, an index takes several times its size: this keeps the largest well inside
    // the 64 MiB an install may use.
    static constexpr qint64 maxBytes = 8 * 1024 * 1024;
    static constexpr int maxFiles = 100000; // made and removed together
    static constexpr qint64 maxFileSize = qint64(4) << 30;

    // False at the first value that is missing, of the wrong type or out of bounds. json is let
    // go once parsed, so that it and the files read from it are never held at once.
    bool read(QByteArray json);
    QString errorString() const;

    QString from() const;
    QString to() const;
    // The files made, in order: the package's entries after delta.json.
    const QVector<File> &files() const;
    // The files removed ("action": "remove"), each with the old-blake2b it must have.
    const RemovalList &removals() const { return removed; }

private:
    bool fail(const QString &why, const QString &subject);
    bool readFile(const QJsonValue &value, QString &path);

    QString error;
    QString fromVersion;
    QString toVersion;
    QVector<File> listed;
    RemovalList removed;
};

#endif // DELTAINDEX_H
