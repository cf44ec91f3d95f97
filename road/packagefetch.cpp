#include "road/packagefetch.h"

#include "road/failuretext.h"
#include "road/progresstext.h"

#include "download/downloader.h"
#include "download/followedget.h"
#include "download/network.h"
#include "download/networklimits.h"
#include "platform/fileidentity.h"
#include "platform/heldfile.h"
#include "verify/filedigest.h"
#include "verify/releasetrust.h"

#include <QFile>
#include <QNetworkReply>
#include <QUrl>

PackageFetch::PackageFetch(ReleaseTrust &trust, UpdateLock *lock, QObject *parent)
    : QObject(parent)
    , downloader(new Downloader(this))
    , trust(trust)
{
    downloader->setLock(lock);
    connect(downloader, &Downloader::doProgress, this, [this](qint64 received, qint64 total) {
        noteDeltaSize(total);
        emit progress(received, total);
    });
    // Our own aborts (time-outs, caps, a full disk, cancel) say why in the downloader's reason,
    // logged at the end; their key name would only mislead.
    connect(downloader, &Downloader::onError, this, [this](QNetworkReply::NetworkError code) {
        if (code != QNetworkReply::OperationCanceledError)
            emit note(ProgressText::errorKey(code));
    });
    connect(downloader, &Downloader::doRetry, this,
            [this](Download::Retry why, qint64 at, int waitMs, int n, int of) {
                emit note(ProgressText::retryLine(why, at, waitMs, n, of));
            });
    connect(downloader, &Downloader::doFinished, this, [this] {
        emit downloadEnded();
        downloadFinished();
    });
}

// The delta's size is said once, with its first report of a size.
void PackageFetch::noteDeltaSize(qint64 total)
{
    if (current != PackageKind::Delta || sizeNoted || total <= 0)
        return;
    sizeNoted = true;
    emit note(tr("downloading the delta from %1 (%2)").arg(deltaFrom, ProgressText::size(total)));
}

PackageFetch::~PackageFetch()
{
    delete digest;
}

void PackageFetch::startDelta(const QString &url, const QString &from, const QString &wholeUrl)
{
    deltaFrom = from;
    whole = wholeUrl;
    sizeNoted = false;
    start(url, PackageKind::Delta);
}

void PackageFetch::start(const QString &url, PackageKind kind)
{
    current = kind;
    why.clear();
    reasonLine.clear();
    address = QUrl(url, QUrl::TolerantMode);
    reusing = reusable(address, kind);
    // Whatever this fetch brings is checked against its own signature or none.
    trust.forgetPackageSignature();
    // An address the downloader refuses is refused with its own reason; nothing else is fetched.
    if (!trust.isSigned() || !Network::isWebAddress(address)) {
        if (reusing)
            QMetaObject::invokeMethod(this, &PackageFetch::startKept, Qt::QueuedConnection);
        else
            startDownload(url);
        return;
    }
    QUrl signatureUrl = address;
    signatureUrl.setPath(address.path() + QLatin1String(".minisig"));
    // Beside the package as the update information names it, wherever its host sends that.
    auto *get = new FollowedGet(signatureUrl, NetworkLimits::signatureMaxBytes, this);
    connect(get, &FollowedGet::finished, this, [this, get, url, signedFor = address] {
        get->deleteLater();
        // A signature that arrives after another fetch started belongs to none.
        if (signedFor != address)
            return;
        QString problem = get->errorString();
        if (problem.isEmpty())
            trust.acceptPackageSignature(get->body(), signedFor, &problem);
        if (problem.isEmpty() && reusing)
            startKept();
        else if (problem.isEmpty())
            startDownload(url);
        else
            finish(Outcome::SignatureInvalid, problem,
                   FailureText::signature(FailureText::Subject::Package, get->failure(),
                                          trust.problem()));
    });
}

bool PackageFetch::reusable(const QUrl &url, PackageKind kind) const
{
    return !keptAddress.isEmpty() && url == keptAddress && kind == keptKind && pathUnchanged();
}

// The package declined before, held again; in a signed build it is hashed against the signature
// just fetched (recheckFinished()).
void PackageFetch::startKept()
{
    emit note(tr("using the package downloaded before"));
    held = std::make_unique<QFile>();
    if (!HeldFile::open(held.get(), packagePath()) || !heldUnchanged()) {
        held.reset();
        reusing = false;
        return startDownload(address.toString());
    }
    heldKind = current;
    if (trust.isSigned())
        return recheck();
    reusing = false;
    emit downloadEnded();
    finish(Outcome::Held, QString());
}

void PackageFetch::startDownload(const QString &url)
{
    keptAddress.clear();
    downloader->setHashing(trust.isSigned());
    downloader->download(url);
}

void PackageFetch::downloadFinished()
{
    if (!downloader->succeeded()) {
        finish(Outcome::DownloadFailed, downloader->errorString(),
               FailureText::download(downloader->failure()));
        return;
    }
    // The digest the downloader computed from the bytes as it wrote them, against the signature
    // fetched before the download. No file stays under the package's final name otherwise.
    QString problem;
    if (trust.isSigned() && !trust.verifyPackage(downloader->digest(), address, &problem)) {
        QFile::remove(packagePath());
        finish(Outcome::SignatureInvalid, problem,
               FailureText::signature(FailureText::Subject::Package, {}, trust.problem()));
        return;
    }
    if (!hold())
        return;
    finish(Outcome::Held, QString());
}

// From here on the package cannot change where the system can refuse it (Windows); elsewhere the
// handle is checked to be the file that was downloaded.
bool PackageFetch::hold()
{
    held = std::make_unique<QFile>();
    QString problem;
    if (!HeldFile::open(held.get(), packagePath()))
        problem = held->errorString();
    else if (!heldUnchanged())
        problem = QStringLiteral("the file changed after it was downloaded");
    heldKind = current;
    if (problem.isEmpty())
        return true;
    held.reset();
    finish(Outcome::Rejected, packagePath() + QLatin1String(": ") + problem,
           FailureText::changedAfterDownload());
    return false;
}

void PackageFetch::finish(Outcome outcome, const QString &problem, const QString &reason)
{
    why = problem;
    reasonLine = reason;
    if (outcome == Outcome::Held || !fallBack(problem, outcome == Outcome::SignatureInvalid))
        emit finished(outcome);
}

bool PackageFetch::fallBack(const QString &problem, bool signatureInvalid)
{
    if (current != PackageKind::Delta)
        return false;
    // What is wrong with a delta is not the user's problem while the whole package can be had;
    // the warning keeps why.
    qWarning("delta not used: %s", qPrintable(problem));
    release();
    if (signatureInvalid)
        emit note(tr("package signature invalid"));
    if (!wholeUsable()) {
        why = QStringLiteral("the delta does not fit this installation and the update "
                             "information names no whole package");
        reasonLine = FailureText::noWholePackage();
        emit finished(Outcome::DownloadFailed);
        return true;
    }
    emit note(tr("the delta does not fit this installation, downloading the whole package"));
    emit fellBack();
    start(whole, PackageKind::Incremental);
    return true;
}

// The whole package must be one the downloader takes, and not the delta served again: that
// would be installed as a zip.
bool PackageFetch::wholeUsable() const
{
    const QUrl url(whole, QUrl::TolerantMode);
    const auto same = QUrl::RemoveFragment | QUrl::NormalizePathSegments;
    return Network::isWebAddress(url) && url.adjusted(same) != address.adjusted(same);
}

PackageKind PackageFetch::kind() const
{
    return heldKind;
}

QString PackageFetch::errorString() const
{
    return why;
}

QFile *PackageFetch::package() const
{
    return held.get();
}

QString PackageFetch::packagePath() const
{
    return downloader->file()->fileName();
}

bool PackageFetch::pathUnchanged() const
{
    return FileIdentity::of(packagePath()) == downloader->identity();
}

bool PackageFetch::heldUnchanged() const
{
    return held && FileIdentity::of(*held) == downloader->identity();
}

void PackageFetch::release()
{
    held.reset();
}

void PackageFetch::decline()
{
    keptAddress = held ? address : QUrl();
    keptKind = heldKind;
    release();
}

void PackageFetch::tidy()
{
    downloader->tidy();
}

void PackageFetch::recheck()
{
    if (!digest) {
        digest = new FileDigest(this);
        connect(digest, &FileDigest::done, this, &PackageFetch::recheckFinished);
    }
    digest->start(held.get());
}

void PackageFetch::recheckFinished(const QByteArray &bytesDigest)
{
    QString problem;
    const bool verified = trust.verifyPackage(bytesDigest, address, &problem);
    // A kept package that no longer verifies is fetched anew, as if none were kept.
    if (reusing) {
        reusing = false;
        if (!verified) {
            release();
            return startDownload(address.toString());
        }
        emit downloadEnded();
        return finish(Outcome::Held, QString());
    }
    if (verified) {
        emit rechecked(true);
        return;
    }
    release();
    QFile::remove(packagePath());
    why = QStringLiteral("the package changed after it was verified: ") + problem;
    reasonLine = FailureText::signature(FailureText::Subject::Package, {}, trust.problem());
    emit rechecked(false);
}
