#ifndef MANIFEST_H
#define MANIFEST_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The values of this platform's entry in an update manifest, read from bytes that came off
// the network, so everything here is bounded before it is shown or compared.
class Manifest
{
public:
    enum class Status {
        Read, // the values hold the entry (empty where it had none; see hasEntry)
        NotJson, // the body is empty or no JSON object or array
        Unusable // a version or an address longer than anything a publisher writes
    };

    // Longer texts are cut for display, so that no manifest can keep the window from painting.
    static constexpr int maxChangelogCharacters = 16 * 1024;
    static constexpr int maxChangelogLines = 400;
    static constexpr int maxLineCharacters = 500;
    static constexpr int maxModifyTimeCharacters = 100;
    // Longer ones are refused: a version or an address is not shown cut short.
    static constexpr int maxVersionCharacters = 64;
    static constexpr int maxUrlCharacters = 2048;

    Status read(const QByteArray &body, const QString &platformKey);
    // Why the last read() did not give Read, for the log.
    QString errorString() const { return error; }

    // Whether "updates" holds an object for the platform at all: without one the values are
    // empty, and nothing tells a missing release from a misspelled platform name.
    bool hasEntry = false;
    QString fullUrl;
    QString changelog;
    QString downloadUrl;
    QString latestVersion;
    QString modifyTime;
    // The delta package against the release deltaFrom; both empty when the entry has no
    // usable pair.
    QString deltaUrl;
    QString deltaFrom;
    // The top-level "expires", until when the publisher vouches for this manifest. Only a
    // signed manifest's counts, so a malformed one is not the read's failure: expires stays
    // invalid and hasExpires tells it apart from none at all.
    bool hasExpires = false;
    QDateTime expires;

private:
    QString error;
};

#endif // MANIFEST_H
