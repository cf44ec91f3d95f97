#ifndef REMOVALLIST_H
#define REMOVALLIST_H

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QVector>

class QJsonValue;

// Files that older releases installed and the new one no longer has, each with the BLAKE2b-512 of
// every version of it that was published: only a file that still holds one of them is the
// release's to remove. An incremental package carries the list as its first entry; a delta lists
// its removals among its files. Read from bytes that came off the network, so every value is
// checked and bounded here.
class RemovalList
{
public:
    struct Item
    {
        QString path; // relative, '/'-separated, as a package's entry is named
        QVector<QByteArray> digests; // 64 bytes each
    };

    // Parsed whole, a list takes several times its size: this keeps the largest well inside the
    // 64 MiB an install may use.
    static constexpr qint64 maxBytes = 8 * 1024 * 1024;
    static constexpr int maxItems = 100000;
    static constexpr int maxDigests = 64;

    // The name of the list's entry at the top of an incremental package. An updater that knows no
    // removals installs it as a small file of its own, which nothing reads.
    static QString entryName();
    // Exactly 128 lower-case hex digits, as the publisher writes them; empty for anything else.
    static QByteArray digestOf(const QJsonValue &value);

    // {"removed": [{"path": "old.dll", "blake2b": ["<hex>", ...]}, ...]}. False at the first value
    // that is missing, of the wrong type or out of bounds. json is let go once parsed.
    bool read(QByteArray json);
    // One item more, under the same rules.
    bool add(const QString &path, const QVector<QByteArray> &digests);
    QString errorString() const;

    const QVector<Item> &items() const { return listed; }

private:
    bool fail(const QString &why, const QString &subject);
    bool readItem(const QJsonValue &value);

    QVector<Item> listed;
    QSet<QString> keys; // case-folded paths: Windows compares names without case
    QString error;
};

#endif // REMOVALLIST_H
