#include "download/resumepolicy.h"

#include "download/networklimits.h"

#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// No wait is longer, whatever the server says: the user is watching.
constexpr qint64 maxWaitMs = 60 * 1000;
// Far beyond any real ETag; the value goes back to the server in every retry.
constexpr int maxValidatorBytes = 256;

bool isStrongETag(const QByteArray &value)
{
    if (value.size() < 2 || value.size() > maxValidatorBytes || !value.startsWith('"')
        || !value.endsWith('"'))
        return false;
    for (const char c : value.mid(1, value.size() - 2)) {
        if (c < 0x21 || c > 0x7e || c == '"')
            return false;
    }
    return true;
}

} // namespace

ResumePolicy::Answer ResumePolicy::Answer::of(const QNetworkReply &reply)
{
    Answer answer;
    answer.status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    bool known = false;
    const qint64 length = reply.header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    answer.contentLength = known ? length : -1;
    answer.contentRange = reply.rawHeader("Content-Range");
    answer.contentType = reply.rawHeader("Content-Type");
    answer.eTag = reply.rawHeader("ETag");
    answer.lastModified = reply.rawHeader("Last-Modified");
    answer.retryAfter = reply.rawHeader("Retry-After");
    answer.date = reply.rawHeader("Date");
    return answer;
}

void ResumePolicy::resume(const QByteArray &validator, qint64 completeLength, qint64 saved)
{
    validatorValue = validator;
    complete = completeLength;
    savedBytes = saved;
}

void ResumePolicy::prepare(QNetworkRequest &request)
{
    rangeAsked = canResume(savedBytes);
    if (!rangeAsked)
        return;
    request.setRawHeader("Range", "bytes=" + QByteArray::number(savedBytes) + '-');
    // A file that changed since comes back whole, as a 200.
    request.setRawHeader("If-Range", validatorValue);
}

ResumePolicy::Step ResumePolicy::judge(const Answer &answer)
{
    const bool asked = rangeAsked;
    rangeAsked = false;
    problem.clear();
    if (answer.status == 200) {
        // The first answer, a range the server ignored, or a file changed since: a new start.
        keepValidator(answer);
        complete = answer.contentLength;
        savedBytes = 0;
        answerEnd = complete;
        return Step::Write;
    }
    if (answer.status == 206 && asked) {
        if (partFits(answer))
            return Step::Append;
        // What was saved cannot be joined to this, and the next request asks for all of it.
        validatorValue.clear();
        savedBytes = 0;
        problem = QStringLiteral("the server sent another part than asked for");
        return retry(Download::Retry::PartRefused, -1);
    }
    problem = QStringLiteral("HTTP status %1").arg(answer.status);
    return isTransient(answer.status) ? retry(Download::Retry::ServerBusy, retryAfterMs(answer))
                                      : Step::Stop;
}

bool ResumePolicy::lost(qint64 saved)
{
    // With nothing saved there is nothing to go on with: the failure stands.
    if (saved <= 0)
        return false;
    savedBytes = canResume(saved) ? saved : 0;
    return retry(Download::Retry::ConnectionLost, -1) == Step::Retry;
}

bool ResumePolicy::canResume(qint64 saved) const
{
    return !validatorValue.isEmpty() && complete > 0 && saved > 0 && saved < complete;
}

ResumePolicy::Step ResumePolicy::retry(Download::Retry cause, int afterMs)
{
    if (used >= NetworkLimits::retryCount)
        return Step::Stop;
    why = cause;
    // Doubled for each retry, unless the server said when.
    const qint64 backoff = qint64(NetworkLimits::retryDelayMs) << qMin(used, 16);
    waitMs = int(afterMs >= 0 ? afterMs : qMin(backoff, maxWaitMs));
    ++used;
    return Step::Retry;
}

// "bytes <first>-<last>/<complete>" for exactly the rest that was asked for, of the same file.
bool ResumePolicy::partFits(const Answer &answer)
{
    if (answer.contentType.trimmed().toLower().startsWith("multipart/"))
        return false;
    // A server that ignores If-Range still names the file it sends a part of: another one's
    // bytes must not be joined to those saved.
    const QByteArray &named = validatorValue.startsWith('"') ? answer.eTag : answer.lastModified;
    if (!named.isEmpty() && named != validatorValue)
        return false;
    const QByteArray &range = answer.contentRange;
    const int dash = range.indexOf('-');
    const int slash = range.indexOf('/');
    if (!range.startsWith("bytes ") || dash < 0 || slash < dash)
        return false;
    const qint64 first = number(range.mid(6, dash - 6));
    const qint64 last = number(range.mid(dash + 1, slash - dash - 1));
    const qint64 total = number(range.mid(slash + 1));
    if (first != savedBytes || total != complete || last < first || last >= total)
        return false;
    if (answer.contentLength >= 0 && answer.contentLength != last - first + 1)
        return false;
    answerEnd = last + 1;
    return true;
}

void ResumePolicy::keepValidator(const Answer &answer)
{
    // A weak ETag ("W/...") promises nothing about the bytes.
    if (isStrongETag(answer.eTag))
        validatorValue = answer.eTag;
    else if (httpDate(answer.lastModified).isValid())
        validatorValue = answer.lastModified;
    else
        validatorValue.clear();
}

// Seconds, or an HTTP date measured against the server's own clock where it gives one.
int ResumePolicy::retryAfterMs(const Answer &answer)
{
    const qint64 seconds = number(answer.retryAfter);
    if (seconds >= 0)
        return int(qMin(seconds, maxWaitMs / 1000) * 1000);
    const QDateTime when = httpDate(answer.retryAfter);
    if (!when.isValid())
        return -1;
    QDateTime now = httpDate(answer.date);
    if (!now.isValid())
        now = QDateTime::currentDateTimeUtc();
    return int(qBound<qint64>(0, now.msecsTo(when), maxWaitMs));
}

qint64 ResumePolicy::number(const QByteArray &digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return -1;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
    }
    return digits.toLongLong();
}

bool ResumePolicy::isTransient(int status)
{
    switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

bool ResumePolicy::isValidator(const QByteArray &value)
{
    return isStrongETag(value) || httpDate(value).isValid();
}

QDateTime ResumePolicy::httpDate(const QByteArray &value)
{
    // The C locale's names are the English ones of the format, and the weekday must fit the date.
    if (value.size() != 29 || !value.endsWith(" GMT"))
        return QDateTime();
    const QDateTime read = QLocale::c().toDateTime(QString::fromLatin1(value.left(25)),
                                                   QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"));
    return read.isValid() ? QDateTime(read.date(), read.time(), Qt::UTC) : QDateTime();
}
