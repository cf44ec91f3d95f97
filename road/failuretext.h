#ifndef FAILURETEXT_H
#define FAILURETEXT_H

#include "download/downloadstatus.h"
#include "install/installerror.h"
#include "road/packageuse.h"
#include "verify/releasetrust.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

// The line that follows a failure in the log: why, in plain words, and where there is something
// to do, what. Made from the failure's kind and values, never from a message; the warning output
// keeps the technical detail.
class FailureText
{
    Q_DECLARE_TR_FUNCTIONS(FailureText)

public:
    // What is being fetched or verified, each with sentences of its own.
    enum class Subject { UpdateInformation, Package };

    // "cannot reach example.com:1995: connection refused", "the server answered 404 Not Found".
    static QString network(const NetworkFailure &failure);
    // A package's download: the network's part, a full disk, the folder, a cancel.
    static QString download(const Download::Failure &failure);
    // A body that is not the JSON of the update information, with where it breaks.
    static QString notJson(const QByteArray &body);
    static QString unusableManifest();
    // Update information read over https that names a package to fetch over http.
    static QString insecureAddress();
    // A signature that was not published, could not be fetched, or does not vouch for subject.
    static QString signature(Subject subject, const NetworkFailure &fetch,
                             ReleaseTrust::Problem problem);
    // The update information names no package to download, or no whole package behind a delta.
    static QString noPackageAddress();
    static QString noWholePackage();
    // Why an install failed, after PackageUse::failureLine(); for a package refused by the
    // install, a cancel, and a full disk.
    static QString rejected(InstallError error);
    // A package changed after it was downloaded.
    static QString changedAfterDownload();
    // Why the installer or the updated program was not started.
    static QString notStarted(PackageUse::StartProblem problem);
    // "1.2 GB", "300 MB", "12 KB": sizes the user compares with a file manager's.
    static QString size(qint64 bytes);
};

#endif // FAILURETEXT_H
