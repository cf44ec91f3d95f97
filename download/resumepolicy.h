#ifndef RESUMEPOLICY_H
#define RESUMEPOLICY_H

#include "download/downloadstatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QNetworkReply;
class QNetworkRequest;

// What each answer of the server means for one download and for its next request, as pure logic
// over the answers' headers: the rules of going on after a lost connection. It keeps the first
// answer's validator (a strong ETag, else its Last-Modified date) and complete length, where the
// file stands, and the retries used. Every header is the server's, so each is parsed strictly and
// bounded: what does not parse counts as absent.
//
//     policy.prepare(request); // Range and If-Range once some bytes can be resumed
//     switch (policy.judge(ResumePolicy::Answer::of(*reply))) { ... }
//     if (policy.lost(bytesInFile)) // wait policy.delayMs(), then prepare the next request
class ResumePolicy
{
public:
    // The headers of one answer that matter here, as received.
    struct Answer
    {
        static Answer of(const QNetworkReply &reply);

        int status = 0;
        qint64 contentLength = -1; // -1: none
        QByteArray contentRange;
        QByteArray contentType;
        QByteArray eTag;
        QByteArray lastModified;
        QByteArray retryAfter;
        QByteArray date;
    };

    enum class Step {
        Write, // the body is the file from its first byte: what was saved goes
        Append, // the body goes on where the saved bytes end
        Retry, // the answer is dropped; ask again after delayMs()
        Stop, // the download fails, as errorString() says
    };

    // Bytes kept from an earlier download of the same address, to go on with.
    void resume(const QByteArray &validator, qint64 completeLength, qint64 saved);
    // Asks for the rest of the file when the saved bytes can be resumed.
    void prepare(QNetworkRequest &request);
    // What the headers of the answer to the last prepared request mean.
    Step judge(const Answer &answer);
    // An accepted body ended early (the connection lost, or short of the complete length) with
    // saved bytes in the file: whether to ask again, for the rest or, when the bytes cannot be
    // resumed, from zero.
    bool lost(qint64 saved);

    // Of the last retry: why, its number (of NetworkLimits::retryCount), the wait before it, and
    // where the file stands for it (0: it starts again).
    Download::Retry cause() const { return why; }
    int retries() const { return used; }
    int delayMs() const { return waitMs; }
    qint64 saved() const { return savedBytes; }
    // Where the body of the accepted answer ends in the file; -1 when not known.
    qint64 end() const { return answerEnd; }
    // Why judge() stopped.
    QString errorString() const { return problem; }

    // Whether a file of saved bytes can be resumed: a validator, a known complete length, and
    // some but not all of its bytes.
    bool canResume(qint64 saved) const;
    QByteArray validator() const { return validatorValue; }
    qint64 completeLength() const { return complete; }

    // A decimal number of 1 to 18 digits and nothing else (no sign, no space), or -1: it fits
    // in qint64.
    static qint64 number(const QByteArray &digits);
    // 408, 429, 500, 502, 503, 504: statuses that say "later", not "never".
    static bool isTransient(int status);
    // A strong ETag ("..." of visible ASCII, at most 256 bytes) or an HTTP date: what may be sent
    // back in If-Range.
    static bool isValidator(const QByteArray &value);
    // An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT") in UTC; invalid for anything else.
    static QDateTime httpDate(const QByteArray &value);

private:
    Step retry(Download::Retry cause, int afterMs);
    bool partFits(const Answer &answer);
    void keepValidator(const Answer &answer);
    static int retryAfterMs(const Answer &answer);

    QByteArray validatorValue;
    qint64 complete = -1;
    qint64 savedBytes = 0;
    qint64 answerEnd = -1;
    bool rangeAsked = false;
    int used = 0;
    int waitMs = 0;
    Download::Retry why = Download::Retry::ConnectionLost;
    QString problem;
};

#endif // RESUMEPOLICY_H
