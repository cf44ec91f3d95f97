#ifndef UPDATERUN_H
#define UPDATERUN_H

#include "install/installrecovery.h"
#include "road/manifest.h"
#include "road/packagechoice.h"
#include "road/packagefetch.h"
#include "road/packageuse.h"
#include "road/updatecheck.h"
#include "road/updategate.h"
#include "verify/releasetrust.h"

#include <QObject>
#include <QString>

// One update of an application folder, from the check to the started program, with no window:
// the check, the choice of package (delta, zip, full installer), its download and verification,
// the question whether to install, the install or the installer's start. The update lock is
// taken once, at update(), and held to the end of the road. What happens is told by signals;
// the answer to the question comes back through consent().
class UpdateRun : public QObject
{
    Q_OBJECT

public:
    // Where the update stands. update() acts only Idle or Downloading (then it changes nothing).
    enum class Stage {
        Idle,
        Downloading, // the package's signature, then the package
        Asking, // question() was asked; consent() answers it
        // From Yes to the end of the install, or the start of the full installer; also while the
        // whole package is fetched for a delta that did not fit
        Installing,
        Closing, // leave() was asked during the install: finished() follows its undoing
    };
    // How the road ended.
    enum class Outcome {
        Started, // the full installer, or the updated Morvane, runs: the updater's work is done
        Installed, // the incremental package is installed; Morvane was not to be started
        Restarting, // a copy with administrator rights takes over: this one should end
        Declined, // the question was answered No
        Cancelled, // leave() during the install, which is undone as far as it could be
        Failed, // a line of kind Failure said why
    };
    // A line of the log, as a value. A Summary starts the log anew: what a check found.
    struct Line
    {
        enum class Kind { Summary, Note, Failure };
        Kind kind = Kind::Note;
        QString text;
    };

    // appDir: the application folder it updates. startInstalled: whether Morvane is started
    // once a package is installed (a full installer is started either way: it is the install).
    explicit UpdateRun(const QString &appDir, bool startInstalled = true,
                       QObject *parent = nullptr);
    // An install still running is cancelled and rolled back first.
    ~UpdateRun() override;

    // What the recovery of earlier installs found; see UpdaterDialog::reportRecovery.
    bool reportRecovery(InstallRecovery::Outcome outcome, const QString &why);
    // Reads the manifest against the installed version localVersion; checked() follows.
    void check(const QString &localVersion);
    // Fetches the package the last check chose, then asks; only Idle or Downloading.
    void update();
    // The answer to question().
    void consent(bool yes);
    // Whether the road may be left now. During an install it is cancelled instead, and
    // finished(Cancelled) follows once it is undone.
    bool leave();

    Stage stage() const { return current; }
    // Whether update() would start: an update offered that nothing stands in the way of, and
    // no download or install under way.
    bool mayUpdate() const;
    // The last manifest read, and what update() fetches for it.
    const Manifest &manifest() const { return read; }
    const PackageChoice &choice() const { return chosen; }
    // While asked: the package held, and what it was fetched as; null when none is held.
    QFile *heldPackage() const { return fetch ? fetch->package() : nullptr; }
    // Its path: a file held by its handle (on Windows) has no name of its own.
    QString heldPackagePath() const { return fetch->packagePath(); }
    PackageKind heldKind() const { return fetch->kind(); }
    // While asked: the delta held is given up for the whole package, why being the reason;
    // question() follows again for it, or finished(Failed). False when no delta is held.
    bool fallBack(const QString &why);

signals:
    void stageChanged(UpdateRun::Stage stage);
    void line(const UpdateRun::Line &line);
    void progress(qint64 received, qint64 total);
    // A download starts from zero (the first, or the whole package after a delta), and ends.
    void downloadStarted();
    void downloadEnded();
    // A check ended: read tells whether a manifest with a release for this platform was read.
    void checked(bool read);
    void question();
    void finished(UpdateRun::Outcome outcome);

private:
    void setStage(Stage next) { emit stageChanged(current = next); }
    void say(Line::Kind kind, const QString &text) { emit line(Line { kind, text }); }
    void checkFinished(const UpdateCheck::Result &result);
    void summarize();
    bool openGate();
    void blockUpdate(const QString &why);
    void createFetch();
    void fetchFinished(PackageFetch::Outcome outcome);
    void proceed();
    void usePackage(bool rechecked);
    void useFinished(PackageUse::Outcome outcome);
    void showInstallFailure();

    QString appDir;
    bool startInstalled;
    QString localVersion;
    UpdateCheck *checker = nullptr;
    Manifest read;
    PackageChoice chosen;
    Stage current = Stage::Idle;
    // Another updater held the folder when last looked at; the next check looks again.
    bool heldElsewhere = false;
    // Why update stays off for good: a folder that recovery or a roll-back could not restore.
    QString blockedBecause;
    bool recoverAtPress = false;

    // The built-in key, and the package signature taken for the download, in a signed build.
    ReleaseTrust trust;
    PackageFetch *fetch = nullptr;
    // Reads the package fetch holds: it goes first.
    PackageUse *use = nullptr;
    // Open from update() to the end of the install.
    UpdateGate gate;
};

#endif // UPDATERUN_H
