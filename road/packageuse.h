#ifndef PACKAGEUSE_H
#define PACKAGEUSE_H

#include "install/packageinstaller.h"

#include <QObject>
#include <QString>
#include <QStringList>

class InstallJob;
class PackageFetch;
class UpdateLock;

// What Yes does with a held package. The full package is the installer itself, started from the
// download folder by the path it was saved under; the incremental package is unpacked over the
// application directory on a thread of its own, and Morvane started from it. Each only while the
// package is still the file that was downloaded (and verified). One finished() per start().
class PackageUse : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Started, // the full installer, or the updated Morvane, runs: the updater's work is done
        NotStarted, // program() could not be started; an incremental package is installed
        Installed, // the incremental package is installed; Morvane was not to be started
        NotInstalled, // error() and errorString() say why; nothing of the package is in place
    };

    // Why program() was not started.
    enum class StartProblem { None, NotProgram, Changed, Missing, SystemRefused };

    // startInstalled: whether Morvane is started once an incremental package is installed.
    PackageUse(const QString &appDir, bool startInstalled, const UpdateLock *lock, QObject *parent);
    // An install still running is cancelled and rolled back first.
    ~PackageUse() override;

    // fetch holds the package until finished().
    void start(PackageFetch *fetch);
    // Stops a running install at its next safe point; false when none runs.
    bool cancel();

    PackageInstaller::Error error() const;
    QString errorString() const;
    // What a failed install means to the user, by its kind, for the log.
    QString failureLine() const;
    // Whether a failed install of a delta is the delta's own fault (it did not fit, or could not
    // be made), so that the whole package may still install.
    bool mayFallBack() const;
    // The program that was to be started, and why it was not.
    QString program() const;
    StartProblem startProblem() const { return notStarted; }
    // What the install did with the files of older releases, for the log (InstallJob::notes()).
    QStringList notes() const { return installNotes; }

signals:
    void finished(PackageUse::Outcome outcome);

private:
    void startFull(PackageFetch *fetch);
    void install(PackageFetch *fetch);
    void launch(const QString &path, bool downloaded);
    void refuseStart(StartProblem problem, const QString &detail);
    void fail(PackageInstaller::Error kind, const QString &why);

    QString appDir;
    bool startInstalled;
    // The application folder's update lock, held by the caller while a package is installed.
    const UpdateLock *lock;
    InstallJob *job = nullptr;
    PackageInstaller::Error lastError = PackageInstaller::Error::NoError;
    StartProblem notStarted = StartProblem::None;
    QString why;
    QString path;
    QStringList installNotes;
    // The fetch whose package is used, from start() to finished().
    PackageFetch *source = nullptr;
};

#endif // PACKAGEUSE_H
