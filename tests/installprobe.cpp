// Installs a package and kills itself, as a crash or a power cut would, once a given number of
// replaced files have been moved aside into the staging folder.
//
//     installprobe PACKAGE TARGET AFTER_BACKUPS
#include "install/installjournal.h"
#include "install/packageinstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <csignal>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4)
        return 2;
    const QString target = arguments.at(2);
    const int after = arguments.at(3).toInt();

    QThread *install = QThread::create([&] {
        PackageInstaller installer(arguments.at(1), target);
        installer.install();
    });
    install->start();
    // Backups are moved aside in entry order; the journal knows where entry N's goes.
    while (!install->isFinished()) {
        const QStringList staging
                = QDir(target).entryList({ ".updater-staging-*" }, QDir::Dirs | QDir::Hidden);
        for (const QString &folder : staging) {
            if (QFileInfo::exists(InstallJournal(target + '/' + folder, target).backupPath(after)))
                std::raise(SIGKILL);
        }
        QThread::usleep(200);
    }
    install->wait();
    delete install;
    return 0;
}
