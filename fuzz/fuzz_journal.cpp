// Reads arbitrary bytes as the install journal of an interrupted install, as start-up recovery
// does with whatever it finds in a staging folder, and undoes what the journal names. Nothing
// outside the scratch application folder may change, and a journal that is not whole and ours
// is never acted on.
#include "fuzzsupport.h"
#include "install/installjournal.h"
#include "platform/nativedir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace fuzzsupport;

namespace {

std::unique_ptr<QTemporaryDir> root;
const QString stagingName = QStringLiteral(".updater-staging-fuzz");

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly)
        || file.write(data) != data.size())
        fault("cannot prepare", path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    root = std::make_unique<QTemporaryDir>(QDir("/dev/shm").exists()
                                                   ? QStringLiteral("/dev/shm/fuzz_journal-XXXXXX")
                                                   : QDir::tempPath() + "/fuzz_journal-XXXXXX");
    return root->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString app = root->filePath(QStringLiteral("app"));
    QDir(app).removeRecursively();
    // An application file, a backup and a staged file where a real journal would find them.
    writeFile(app + QStringLiteral("/a.txt"), "application");
    writeFile(root->filePath(QStringLiteral("outside.txt")), "outside");
    const QString staging = app + QLatin1Char('/') + stagingName;
    writeFile(staging + QStringLiteral("/b0/old-0"), "backup");
    writeFile(staging + QStringLiteral("/b0/1"), "staged");
    writeFile(staging + QStringLiteral("/journal-1"),
              QByteArray(reinterpret_cast<const char *>(data), int(size)));
    const QStringList before = listing(root->path());

    const NativeDir target = NativeDir::open(app);
    InstallJournal journal(target, stagingName);
    if (!journal.read()) {
        if (listing(root->path()) != before)
            fault("unread journal changed the folder", app);
        return 0;
    }
    journal.rollBack();
    QFile outside(root->filePath(QStringLiteral("outside.txt")));
    if (!outside.open(QIODevice::ReadOnly) || outside.readAll() != "outside")
        fault("a file outside the application folder changed", outside.fileName());
    for (const QString &path : listing(root->path())) {
        if (path != app && !path.startsWith(app + QLatin1Char('/'))
            && path != root->filePath(QStringLiteral("outside.txt")))
            fault("written outside the application folder", path);
    }
    return 0;
}
