#ifndef REDIRECTCHAIN_H
#define REDIRECTCHAIN_H

#include "download/networkfailure.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

class QNetworkReply;

// The redirects of one request, followed by hand so that every hop passes the rules of the
// first: an answer of 301, 302, 303, 307 or 308 leads to its Location (resolved against the
// address that answered), up to maxHops times, only to http or https, never from https back to
// http, and never to an address the chain has asked already. Each hop is a request of its own
// through Network::get, with its own time limits; none of its body is kept.
//
//     RedirectChain chain(url);
//     // for each answer's headers, the reply being an answer to chain.current():
//     switch (chain.judge(status, reply->rawHeader("Location"))) {
//     case RedirectChain::Step::Follow: // abort it, ask chain.current()
//     case RedirectChain::Step::Refuse: // fail with chain.errorString(), chain.failure()
//     case RedirectChain::Step::Final: // the answer itself
//     }
class RedirectChain
{
public:
    enum class Step { Final, Follow, Refuse };

    static constexpr int maxHops = 5;

    explicit RedirectChain(const QUrl &origin = QUrl());

    // The address to ask now: the origin, or where the last redirect leads.
    QUrl current() const { return chain.last(); }
    int hops() const { return chain.size() - 1; }
    // What an answer of status with that Location header means for the chain; a Follow moves
    // current() on.
    Step judge(int status, const QByteArray &location);
    // Why the chain refused, in a short line and as values (the address it would have gone to).
    QString errorString() const { return why; }
    NetworkFailure failure() const { return values; }

    // 301, 302, 303, 307 and 308: the statuses that send the request elsewhere.
    static bool isRedirect(int status);
    // Where a redirect answer of reply leads, resolved; invalid for any other answer.
    static QUrl target(const QNetworkReply &reply);
    // An address as the log shows it, without a password and bounded in length.
    static QString shown(const QUrl &url);

private:
    Step refuse(NetworkFailure::Cause cause, const QUrl &to, const QString &line);

    QList<QUrl> chain;
    QString why;
    NetworkFailure values;
};

#endif // REDIRECTCHAIN_H
