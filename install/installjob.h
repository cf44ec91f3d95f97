#ifndef INSTALLJOB_H
#define INSTALLJOB_H

#include "install/packageinstaller.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QFile;
class QThread;
class UpdateLock;

// Runs one PackageInstaller on a thread of its own, so that the window keeps painting while the
// package is unpacked; finished() arrives on the thread that owns the job.
class InstallJob : public QObject
{
    Q_OBJECT

public:
    explicit InstallJob(QObject *parent = nullptr);
    // Cancels a running install and waits for its roll-back: nothing is left half done.
    ~InstallJob() override;

    // package stays open, unread by anyone else, until finished() arrives. held: the target's
    // update lock, which the caller holds until then; without it the install takes its own.
    void start(QFile *package, const QString &targetDir,
               PackageKind kind = PackageKind::Incremental, const UpdateLock *held = nullptr);
    // The install stops at its next safe point and rolls back; finished() then reports
    // "cancelled". Does nothing when no install runs.
    void cancel();
    bool isRunning() const;
    // How the last finished install ended; readable in a slot of finished().
    PackageInstaller::Error error() const;
    // The last finished install's PackageInstaller::notes(); readable in a slot of finished().
    QStringList notes() const { return lastNotes; }

signals:
    void finished(bool ok, const QString &reason);

private:
    std::unique_ptr<PackageInstaller> installer;
    QThread *thread = nullptr;
    bool succeeded = false;
    PackageInstaller::Error lastError = PackageInstaller::Error::NoError;
    QStringList lastNotes;
};

#endif // INSTALLJOB_H
