#include "install/installjob.h"

#include "install/packageinstaller.h"

#include <QThread>

InstallJob::InstallJob(QObject *parent)
    : QObject(parent)
{ }

InstallJob::~InstallJob()
{
    if (thread) {
        cancel();
        thread->wait();
        delete thread;
    }
}

void InstallJob::start(QFile *package, const QString &targetDir, PackageKind kind,
                       const UpdateLock *held)
{
    if (thread)
        return;
    installer = std::make_unique<PackageInstaller>(package, targetDir, kind);
    installer->setLock(held);
    succeeded = false;
    PackageInstaller *worker = installer.get();
    thread = QThread::create([this, worker] { succeeded = worker->install(); });
    // QThread::finished is emitted on the worker thread; the context object brings the
    // result over to this object's thread.
    connect(thread, &QThread::finished, this, [this] {
        thread->deleteLater();
        thread = nullptr;
        const QString reason = installer->errorString();
        lastError = installer->error();
        lastNotes = installer->notes();
        installer.reset();
        emit finished(succeeded, reason);
    });
    thread->start();
}

void InstallJob::cancel()
{
    if (installer)
        installer->cancel();
}

bool InstallJob::isRunning() const
{
    return thread != nullptr;
}

PackageInstaller::Error InstallJob::error() const
{
    return lastError;
}
