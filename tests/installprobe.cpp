// Kills itself, as a crash or a power cut would, at a chosen point of an install or of the
// recovery of one:
//
//     installprobe install PACKAGE TARGET staged N   while staging, once staged file N exists
//     installprobe install PACKAGE TARGET made PATH  once the new folder PATH was made
//     installprobe install PACKAGE TARGET backup N   once replaced file N was moved aside
//     installprobe install PACKAGE TARGET done       once the install is marked done
//     installprobe install PACKAGE TARGET swap FOLDER OUTSIDE
//                                  once staging began, FOLDER of the target becomes a link to
//                                  OUTSIDE (the folder itself moves beside the target); no kill
//     installprobe recover TARGET undo N             once recovery put replaced file N back
//     installprobe recover TARGET undo next          once recovery put back the first file it
//                                  undoes (the highest N whose backup is there at the start)
//     installprobe install|recover ... tidy N        once the staging folder of N entries, done
//                                  with, has lost one of its bucket folders
//     installprobe hold TARGET SECONDS               holds the update lock of TARGET, says "held"
//                                  and ends after SECONDS, or when killed
//
// Exits 0 when the point never came.
#include "install/installjournal.h"
#include "install/installrecovery.h"
#include "install/packageinstaller.h"
#include "install/staginglayout.h"
#include "platform/updatelock.h"
#include "testplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

// The one staging folder of the run, looked for until it appears: listing the target at every
// look would cost more than the work being watched.
QString stagingFolder(const QString &target)
{
    const QStringList names
            = QDir(target).entryList({ StagingLayout::prefix() + '*' }, QDir::Dirs | QDir::Hidden);
    return names.isEmpty() ? QString() : target + '/' + names.first();
}

bool exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString inBucket(const QString &staging, int index, const QString &name)
{
    return staging + '/' + StagingLayout::bucketName(index) + '/' + name;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.value(0) == "hold") {
        UpdateLock lock(UpdateLock::folderOf(arguments.value(1)));
        if (!lock.tryLock())
            return 4;
        std::printf("held\n");
        std::fflush(stdout);
        QThread::sleep(arguments.value(2).toULong());
        return 0;
    }
    const bool install = arguments.value(0) == "install";
    if (install ? arguments.size() < 4 : arguments.size() != 4)
        return 2;
    const QString package = install ? arguments.at(1) : QString();
    const QString target = arguments.at(install ? 2 : 1);
    const QString point = arguments.at(install ? 3 : 2);
    const QString value = arguments.value(install ? 4 : 3);
    int index = value.toInt();
    // The point is taken before the work starts; a kill lands a little after its point, so a
    // fixed N may already be past.
    if (point == "undo" && value == "next") {
        const QString folder = stagingFolder(target);
        for (int i = 0; i < 100000 && !folder.isEmpty(); ++i) {
            if (exists(inBucket(folder, i, StagingLayout::backupName(i))))
                index = i;
        }
    }

    // Seen once, so that "undo" waits for the backup to be put back, not for it to be missing.
    bool backupSeen = false;
    bool swapped = false;
    QString staging;
    const auto reached = [&] {
        if (staging.isEmpty() && (staging = stagingFolder(target)).isEmpty())
            return false;
        const bool planned = exists(staging + "/journal-1");
        if (point == "staged")
            return !planned && exists(inBucket(staging, index, StagingLayout::stagedName(index)));
        if (point == "made")
            return planned && QFileInfo(target + '/' + value).isDir();
        if (point == "backup")
            return exists(inBucket(staging, index, StagingLayout::backupName(index)));
        if (point == "done")
            return exists(staging + '/' + StagingLayout::doneName());
        if (point == "tidy") {
            if (install && !exists(staging + '/' + StagingLayout::doneName()))
                return false;
            const QStringList buckets = StagingLayout::bucketNames(index);
            return std::any_of(buckets.begin(), buckets.end(), [&](const QString &bucket) {
                return !exists(staging + '/' + bucket);
            });
        }
        if (point == "swap")
            return !swapped && !planned
                    && exists(inBucket(staging, 0, StagingLayout::stagedName(0)));
        const bool backup = exists(inBucket(staging, index, StagingLayout::backupName(index)));
        if (backupSeen && !backup)
            return true;
        backupSeen = backupSeen || backup;
        return false;
    };
    // The work before the thread starts: the first look must see the state before it.
    if (point == "undo")
        reached();

    QThread *work = QThread::create([&] {
        if (install)
            PackageInstaller(package, target).install();
        else
            InstallRecovery(target).run();
    });
    work->start();
    while (!work->isFinished()) {
        if (reached() && point != "swap")
            testplatform::endAbruptly();
        if (point == "swap" && reached()) {
            const QString folder = target + '/' + value;
            swapped = QFile::rename(folder, target + "/../" + value + "-moved")
                    && testplatform::makeSymbolicLink(arguments.value(install ? 5 : 4), folder);
            if (!swapped)
                return 3;
        }
        QThread::usleep(300);
    }
    work->wait();
    delete work;
    return 0;
}
