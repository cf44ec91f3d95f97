#include "install/installjob.h"
#include "install/installrecovery.h"
#include "install/packageinstaller.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <ctime>
#include <memory>

using namespace testsupport;
using Error = PackageInstaller::Error;
Q_DECLARE_METATYPE(PackageInstaller::Error)

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitized = true;
#else
constexpr bool addressSanitized = false;
#endif

// Bytes that deflate cannot shrink.
QByteArray noise(int size, quint32 seed = 12345)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = char(seed >> 24);
    }
    return bytes;
}

// A tree of count files spread over nested folders, with the zip entries that would replace
// every one of them.
QVector<ZipEntry> manyFiles(int count, const QByteArray &content)
{
    QVector<ZipEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append(
                { QStringLiteral("d%1/f%2.txt").arg(i % 37).arg(i), content + char('0' + i % 10) });
    return entries;
}

// A removal list of one file, listed with the digest of content.
QByteArray removalList(const QByteArray &path, const QByteArray &content)
{
    return R"({"removed": [{"path": ")" + path + R"(", "blake2b": [")" + blake2bHex(content)
            + R"("]}]})";
}

// The updater's own folder, where the installer takes the update lock.
const QString ownFolder = QStringLiteral("app/updater-downloads");

const char noLinks[] = "no symbolic link can be made here: Windows makes them in developer mode "
                       "or for an administrator only, Wine 8 not at all";

} // namespace

class tst_PackageInstaller : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void installsPackage_data();
    void installsPackage();
    void installsFromOpenFile();
    void permissions_data();
    void permissions();
    void rejectsPackage_data();
    void rejectsPackage();
    void refusesHostilePackage_data();
    void refusesHostilePackage();
    void removesOldFiles_data();
    void removesOldFiles();
    void existingLinks_data();
    void existingLinks();
    void rollsBackFailedMove_data();
    void rollsBackFailedMove();
    void jobKeepsEventLoopRunning_data();
    void jobKeepsEventLoopRunning();
    void recoversFromCrash_data();
    void recoversFromCrash();
    void takesOverStaleLock_data();
    void takesOverStaleLock();

private:
    void expectRefusal(const QString &expectedError, Error kind,
                       PackageKind packageKind = PackageKind::Incremental);

    std::unique_ptr<QTemporaryDir> root;
    QString app;
    QString package;
};

void tst_PackageInstaller::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    app = root->filePath(QStringLiteral("app"));
    package = root->filePath(QStringLiteral("update.zip"));
    QVERIFY(QDir().mkdir(app));
}

void tst_PackageInstaller::installsPackage_data()
{
    QTest::addColumn<QString>("top");
    QTest::addColumn<bool>("running"); // Morvane runs during the install
    QTest::newRow("names from the top") << QString() << false;
    QTest::newRow("as Windows' tar.exe writes them") << QStringLiteral("./") << false;
    QTest::newRow("over a running Morvane") << QString() << true;
}

void tst_PackageInstaller::installsPackage()
{
    QFETCH(QString, top);
    QFETCH(bool, running);
    QProcess morvane;
    if (running) {
        QVERIFY(QDir(app).mkdir("bin"));
        QVERIFY(QFile::copy(MARKER_PROBE, app + "/bin/Morvane.exe"));
        morvane.start(app + "/bin/Morvane.exe", { "--stay" });
        QVERIFY(morvane.waitForStarted());
    } else {
        QVERIFY(writeFile(app + "/bin/Morvane.exe", "old program", 0755));
    }
    QVERIFY(writeFile(app + "/old/keep.txt", "untouched"));
    QStringList deep;
    for (int level = 0; level < 63; ++level)
        deep << QStringLiteral("l%1").arg(level);
    QVector<ZipEntry> entries = {
        { "bin/", {}, ZipEntry::Dir },
        { "bin/Morvane.exe", QByteArray(70000, '\x90') + "end", ZipEntry::File, 0755 },
        { "lib/plugins/deep/plugin.so", noise(300000), ZipEntry::File, 0750 },
        { ".hidden", "dot file" },
        { "empty.txt", {} },
        { QString::fromUtf8("données/Ünïcödé 日本.txt"), "non-ASCII name", ZipEntry::File, 0644 },
        { "emptydir/", {}, ZipEntry::Dir },
        { deep.join('/') + "/bottom.txt", "63 folders down" },
    };
    entries += manyFiles(2000, "small ");
    QVector<ZipEntry> written = entries;
    for (ZipEntry &entry : written)
        entry.name.prepend(top);
    if (!top.isEmpty())
        written.prepend({ top, {}, ZipEntry::Dir });
    QVERIFY(writeFile(package, makeZip(written)));
    Tree expected = snapshot(root->path(), ownFolder);

    PackageInstaller installer(package, app);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    QCOMPARE(installer.errorString(), QString());
    // Windows moves a running program aside but keeps it until it ends: the next start
    // removes it.
    morvane.closeWriteChannel();
    QVERIFY(morvane.state() == QProcess::NotRunning || morvane.waitForFinished());
    QCOMPARE(InstallRecovery(app).run(), InstallRecovery::Outcome::Clean);

    for (const ZipEntry &entry : qAsConst(entries)) {
        QString path = "app";
        const QStringList parts = entry.name.split('/', Qt::SkipEmptyParts);
        for (int i = 0; i < parts.size(); ++i) {
            path += '/' + parts.at(i);
            if (i + 1 < parts.size() || entry.kind == ZipEntry::Dir)
                expected[path] = "folder";
        }
        if (entry.kind == ZipEntry::File)
            expected[path] = fileState(entry.mode, entry.data);
    }
    const Tree after = snapshot(root->path(), ownFolder);
    QCOMPARE(after.keys(), expected.keys());
    QCOMPARE(after, expected);
}

// The dialog's way: one open handle of the verified file, read from its start, left open.
void tst_PackageInstaller::installsFromOpenFile()
{
    QVERIFY(writeFile(package, makeZip({ { "a.txt", "from the handle" } })));
    QFile file;
    QVERIFY(testplatform::openSharingRemoval(&file, package));
    QVERIFY(file.seek(7));
    QVERIFY(QFile::remove(package)); // no reopening by name behind the handle's back

    PackageInstaller installer(&file, app);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    QVERIFY(file.isOpen());
    QCOMPARE(readFile(app + "/a.txt"), QByteArray("from the handle"));
}

void tst_PackageInstaller::permissions_data()
{
    QTest::addColumn<int>("existingMode"); // -1: no file to replace
    QTest::addColumn<int>("archiveMode");
    QTest::addColumn<int>("expectedMode");
    QTest::addColumn<bool>("throughLink"); // the old file is reached through a link

    QTest::newRow("archive mode on a new file") << -1 << 0750 << 0750 << false;
    QTest::newRow("owner keeps read and write") << -1 << 0400 << 0600 << false;
    QTest::newRow("archive mode narrows a replaced file") << 0666 << 0640 << 0640 << false;
    QTest::newRow("replaced program stays executable") << 0755 << 0644 << 0755 << false;
    // Windows refuses to remove a read-only file, as the replaced one is once it was moved aside.
    QTest::newRow("read-only file replaced") << 0444 << 0644 << 0644 << false;
    // What the link leads to counts, not the link's own mode (all bits set).
    QTest::newRow("link to a program replaced, executable") << 0755 << 0644 << 0755 << true;
    QTest::newRow("link to a plain file replaced") << 0600 << 0644 << 0644 << true;
}

void tst_PackageInstaller::permissions()
{
    QFETCH(int, existingMode);
    QFETCH(int, archiveMode);
    QFETCH(int, expectedMode);
    QFETCH(bool, throughLink);

    const QString tool = app + "/tool";
    const QString old = throughLink ? app + "/old-tool" : tool;
    if (existingMode >= 0)
        QVERIFY(writeFile(old, "old", existingMode));
    if (throughLink && !testplatform::makeSymbolicLink(old, tool))
        QSKIP(noLinks);
    QVERIFY(writeFile(package, makeZip({ { "tool", "new", ZipEntry::File, archiveMode } })));

    PackageInstaller installer(package, app);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    const Tree after = snapshot(app);
    QCOMPARE(after.value("tool"), fileState(expectedMode, "new"));
    // The link is replaced, not what it leads to.
    if (throughLink)
        QCOMPARE(after.value("old-tool"), fileState(existingMode, "old"));
}

// Installing the package fails as kind with expectedError, and nothing under the temporary root
// (the target, its parent, no staging folder) has changed in any way.
void tst_PackageInstaller::expectRefusal(const QString &expectedError, Error kind,
                                         PackageKind packageKind)
{
    const Tree before = snapshot(root->path(), ownFolder);

    PackageInstaller installer(package, app, packageKind);
    QVERIFY(!installer.install());
    QVERIFY2(installer.errorString().startsWith(expectedError),
             qPrintable(installer.errorString()));
    QCOMPARE(installer.error(), kind);
    const Tree after = snapshot(root->path(), ownFolder);
    QCOMPARE(after.keys(), before.keys());
    QCOMPARE(after, before);
}

void tst_PackageInstaller::rejectsPackage_data()
{
    QTest::addColumn<QByteArray>("zip");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("expectedError"); // how errorString() starts

    auto hostileName = [](const char *tag, const QVector<QPair<QByteArray, QByteArray>> &raw) {
        QTest::newRow(tag) << zipWithRawNames(raw) << true << QStringLiteral("unsafe entry name");
    };
    hostileName("parent folder", { { "../x", "escape" } });
    hostileName("climb out after a folder entry", { { "sub/", {} }, { "sub/../../x", "escape" } });
    hostileName("absolute path", { { "/abs", "x" } });
    hostileName("drive letter", { { "C:/x", "x" } });
    hostileName("backslash", { { "a\\..\\..\\x", "x" } });
    hostileName("current folder inside", { { "a/./x", "x" } });
    hostileName("up from tar's top", { { "./", {} }, { "./../x", "x" } });
    hostileName("short name form", { { "MORVAN~1.EXE", "x" } });
    hostileName("short name form of a folder", { { "progra~2/x", "x" } });
    hostileName("trailing dot", { { "x", "x" }, { "x.", "x" } });

    QTest::newRow("write through a link entry")
            << makeZip({ { "sub", "..", ZipEntry::Link }, { "sub/x", "escape" } }) << true
            << "link entry: sub";
    QTest::newRow("same file twice") << makeZip({ { "a", "1" }, { "a", "2" } }) << true
                                     << "entry clashes with another entry: a";
    QTest::newRow("file and folder of one name") << makeZip({ { "a", "1" }, { "a/b", "2" } })
                                                 << true << "entry clashes with another entry: a/b";
    QTest::newRow("folder then file of one name") << makeZip({ { "a/b", "1" }, { "A", "2" } })
                                                  << true << "entry clashes with another entry: A";
    QTest::newRow("protected folder, other case")
            << makeZip({ { "ok", "1" }, { "Updater-Downloads/x.zip", "2" } }) << true
            << "entry in a protected folder: Updater-Downloads/x.zip";
    QTest::newRow("staging folder name") << makeZip({ { ".updater-staging-abc/0", "2" } }) << true
                                         << "entry in a protected folder: .updater-staging-abc/0";

    const QByteArray stored
            = makeZip({ { "keep", "first" }, { "f", "stored data" } }, Compression::Store);
    const int header = centralHeaders(stored).at(1);
    QByteArray flipped = stored;
    flipped[stored.indexOf("stored data")] = 'S';
    QTest::newRow("crc mismatch") << flipped << true << "damaged entry: f";
    QByteArray longer = stored;
    write32(longer, header + 24, read32(stored, header + 24) + 1);
    QTest::newRow("size mismatch") << longer << true << "package is not a readable zip archive";
    QByteArray huge = stored;
    write32(huge, header + 24, 0xfffffff0u);
    QTest::newRow("absurd declared size")
            << huge << true << "package is not a readable zip archive";

    const QString unreadable = QStringLiteral("package is not a readable zip archive");
    QTest::newRow("truncated") << stored.left(stored.size() - 10) << true << unreadable;
    QTest::newRow("cut in the middle") << stored.left(stored.size() / 2) << true << unreadable;
    QTest::newRow("garbage") << QByteArray(4096, 'g') << true << unreadable;
    QByteArray moreEntries = stored;
    write16(moreEntries, endRecord(stored) + 8, 3);
    write16(moreEntries, endRecord(stored) + 10, 3);
    QTest::newRow("end record counts an entry too many") << moreEntries << true << unreadable;
    QTest::newRow("empty archive") << makeZip({}) << true << "package holds no entry";
    const auto removing = [](const char *tag, const QByteArray &list, QVector<ZipEntry> entries,
                             const QString &expected) {
        entries.prepend({ ".removed.json", list });
        QTest::newRow(tag) << makeZip(entries) << true << expected;
    };
    removing("removes a file it holds", removalList("X", "existing x"), { { "x", "new" } },
             "removal of a path the package fills: X");
    removing("removes a folder it fills", removalList("sub", "existing x"), { { "sub/y", "y" } },
             "removal of a path the package fills: sub");
    removing("removes outside the folder", removalList("../x", "existing x"), { { "y", "y" } },
             "unsafe entry name: ../x");
    removing("removes the updater's own", removalList("updater-downloads/updater.lock", ""),
             { { "y", "y" } }, "removal in a protected folder");
    removing("removal list not JSON", "[]", { { "y", "y" } },
             "removal list is no JSON object with a list");
    removing("removal with a short digest", R"({"removed": [{"path": "x", "blake2b": ["00"]}]})",
             { { "y", "y" } }, "removal without usable digests: x");
    QTest::newRow("removal list not first")
            << makeZip({ { "y", "y" }, { ".removed.json", removalList("x", "existing x") } })
            << true << "entry with a reserved name: .removed.json";
    QTest::newRow("missing package") << QByteArray() << false << "cannot open package";

    // Delta packages against the installed x: refused before anything moves, whatever lies.
    const QByteArray x = "existing x";
    const auto index = [](const QByteArray &files) {
        return R"({"from": "1.0", "to": "1.1", "files": [)" + files + "]}";
    };
    const auto item = [](const char *path, const QByteArray &old, const QByteArray &made,
                         qint64 size) {
        return QByteArray(R"({"path": ")") + path + R"(", "action": ")"
                + (old.isNull() ? "add" : R"(patch", "old-blake2b": ")" + blake2bHex(old))
                + R"(", "blake2b": ")" + blake2bHex(made) + R"(", "size": )"
                + QByteArray::number(size) + R"(, "executable": false})";
    };
    const auto delta = [](const char *tag, const QByteArray &json, QVector<ZipEntry> entries,
                          const QString &expected) {
        if (!json.isNull())
            entries.prepend({ QStringLiteral("delta.json"), json, ZipEntry::File, 0644 });
        QTest::newRow(tag) << makeZip(entries, Compression::Store) << true << expected;
    };
    const QByteArray patch = zstdPatch(x, "new x");
    delta("delta: a file the package lacks",
          index(item("x", x, "new x", 5) + ',' + item("y", {}, "y", 1)), { { "x", patch } },
          "delta.json lists 2 files, the package holds 1");
    delta("delta: entries in another order",
          index(item("x", x, "new x", 5) + ',' + item("y", {}, "y", 1)),
          { { "y", "y" }, { "x", patch } }, "delta.json does not name entry: y");
    delta("delta: index not first", QByteArray(),
          { { "x", patch }, { "delta.json", index(item("x", x, "new x", 5)) } },
          "delta package has no readable delta.json");
    delta("delta: size past 4 GiB", index(item("x", x, "new x", qint64(5) << 30)),
          { { "x", patch } }, "delta index file with an unusable size: x");
    delta("delta: new file of another size", index(item("y", {}, "y", 2)), { { "y", "y" } },
          "new file of another size than listed: y");
    delta("delta: installed file differs", index(item("x", "other x", "new x", 5)),
          { { "x", zstdPatch("other x", "new x") } },
          "installed file differs from the one the delta patches: x");
    delta("delta: patch longer than declared", index(item("x", x, "new x", 4)),
          { { "x", patch } }, "patch longer than declared: x");
    delta("delta: result differs", index(item("x", x, "new y", 5)), { { "x", patch } },
          "result differs from the release's: x");
    delta("delta: results past the bomb rule", index(item("x", x, "new x", qint64(1) << 30)),
          { { "x", patch } }, "delta inflates too far");
    delta("delta: removes a file it makes",
          index(item("x", x, "new x", 5) + R"(, {"path": "X", "action": "remove", "old-blake2b": ")"
                + blake2bHex(x) + "\"}"),
          { { "x", patch } }, "delta index lists a file twice: X");
    delta("delta: patch against nothing installed", index(item("keep/x", x, "new x", 5)),
          { { "keep/x", patch } }, "installed file missing: keep/x");
    // The same delta, given to be unpacked as a zip: its index and frames never land.
    QTest::newRow("zip that is a delta package")
            << makeZip({ { "Delta.json", index(item("x", x, "new x", 5)) }, { "x", patch } },
                       Compression::Store)
            << true << "a delta package is not an incremental package";
    QTest::newRow("full installer given to be unpacked")
            << makeZip({ { "x", "new x" } }) << true << "an installer is started, not unpacked";
}

void tst_PackageInstaller::rejectsPackage()
{
    QFETCH(QByteArray, zip);
    QFETCH(bool, present);
    QFETCH(QString, expectedError);

    QVERIFY(writeFile(app + "/x", "existing x"));
    QVERIFY(writeFile(app + "/sub/x", "existing sub/x"));
    QVERIFY(writeFile(app + "/keep", "existing keep"));
    if (present)
        QVERIFY(writeFile(package, zip));
    const QByteArray tag = QTest::currentDataTag();
    PackageKind kind = PackageKind::Incremental;
    if (tag.startsWith("delta"))
        kind = PackageKind::Delta;
    else if (tag.startsWith("full"))
        kind = PackageKind::Full;
    expectRefusal(expectedError, Error::Refused, kind);
}

// The generator's packages, each a fault of the old installer: refused within a generous bound,
// without the memory growing by more than the bound the benchmarks hold it to.
void tst_PackageInstaller::refusesHostilePackage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expectedError");

    const QString unsafe = QStringLiteral("unsafe entry name");
    const QString device = QStringLiteral("reserved device name");
    const QString unreadable = QStringLiteral("package is not a readable zip archive");
    const QList<QPair<const char *, QString>> rows = {
        { "declares-less-than-it-inflates", "package inflates too far" },
        { "declares-1000-inflates-to-bomb", "entry larger than declared" },
        // The stored data then runs into the directory, and passes the declared 5 bytes.
        { "compressed-size-ffffffff", "entry larger than declared" },
        { "compressed-size-80000000", "entry larger than declared" },
        { "honest-bomb", "package inflates too far" },
        { "two-30000-level-names", "path too long" },
        { "implied-folders-past-bound", "too many entries and folders" },
        { "long-paths-past-journal", "names too long in total" },
        { "name-con", device },
        { "name-nul-lower", device },
        { "name-aux", device },
        { "name-com1", device },
        { "name-lpt1", device },
        { "name-con-txt", device },
        { "name-clock", device },
        { "name-device-in-folder", device },
        { "name-less-than", unsafe },
        { "name-greater-than", unsafe },
        { "name-quote", unsafe },
        { "name-pipe", unsafe },
        { "name-question", unsafe },
        { "name-star", unsafe },
        { "name-colon-stream", unsafe },
        { "name-control", unsafe },
        { "name-trailing-space", unsafe },
        { "name-name-600", "name too long" },
        { "name-path-1100", "path too long" },
        { "name-65-levels", "path too deep" },
        { "name-absolute", unsafe },
        { "name-parent", unsafe },
        { "name-backslash", unsafe },
        { "case-clash", "entry clashes with another entry: README.TXT" },
        { "case-clash-file-and-folder", "entry clashes with another entry: bin" },
        { "link-entry", "link entry: sub" },
        { "claims-ten-million-entries", "too many entries" },
        { "crc-mismatch", "damaged entry: f" },
        { "truncated", unreadable },
        { "garbage", unreadable },
    };
    for (const auto &row : rows)
        QTest::newRow(row.first) << fixture("hostile/" + QString::fromLatin1(row.first) + ".zip")
                                 << row.second;
}

void tst_PackageInstaller::refusesHostilePackage()
{
    QFETCH(QString, file);
    QFETCH(QString, expectedError);

    QVERIFY(QFile::copy(file, package));
    QVERIFY(writeFile(app + "/Morvane.exe", "old program", 0755));
    const qint64 residentBefore = testplatform::residentKiB();
    testplatform::resetPeak();
    const std::clock_t start = std::clock();
    expectRefusal(expectedError, Error::Refused);
    const qint64 elapsed = qint64(std::clock() - start) * 1000 / CLOCKS_PER_SEC;
    // Most take a few milliseconds. The processor time this process used, where the system
    // counts it so: other work on the machine does not add. AddressSanitizer's allocator makes
    // the largest plans several times slower, and their time varies with its state.
    QVERIFY2(elapsed < (addressSanitized ? 30000 : 3000),
             qPrintable(QString::number(elapsed) + " ms"));
    const qint64 peak = testplatform::peakKiB();
    // AddressSanitizer pads and quarantines every block: its peak says nothing of the plan's.
    if (residentBefore > 0 && peak > 0 && !addressSanitized)
        QVERIFY2(peak - residentBefore < 64 * 1024,
                 qPrintable(QString::number(peak - residentBefore) + " KiB more"));
}

// lib/old.dll was published as "old v1" and as "old v2"; only a plain file that holds one of them
// goes, with its folder when nothing else is left in it.
void tst_PackageInstaller::removesOldFiles_data()
{
    QTest::addColumn<QString>("standing"); // at lib/old.dll; "folder", "link" or a file's content
    QTest::addColumn<bool>("beside"); // a file of the user's lies beside it
    QTest::addColumn<bool>("delta"); // the list travels in a delta, which names "old v1" only
    QTest::addColumn<QString>("note"); // the install's one note about it, if any

    const QString removed = QStringLiteral("removed lib/old.dll");
    const QString kept = QStringLiteral("kept lib/old.dll (changed by the user)");
    QTest::newRow("unchanged") << "old v1" << false << false << removed;
    QTest::newRow("an older version") << "old v2" << false << false << removed;
    QTest::newRow("beside a file of the user's") << "old v1" << true << false << removed;
    QTest::newRow("changed by the user") << "mine" << false << false << kept;
    QTest::newRow("a folder in its place") << "folder" << false << false << kept;
    QTest::newRow("a link to the published file") << "link" << false << false << kept;
    QTest::newRow("gone already") << "" << false << false << "";
    QTest::newRow("delta, unchanged") << "old v1" << false << true << removed;
    QTest::newRow("delta, another version") << "old v2" << false << true << kept;
}

void tst_PackageInstaller::removesOldFiles()
{
    QFETCH(QString, standing);
    QFETCH(bool, beside);
    QFETCH(bool, delta);
    QFETCH(QString, note);

    const QString listed = app + "/lib/old.dll";
    QVERIFY(writeFile(app + "/Morvane.exe", "old") && QDir().mkpath(app + "/lib"));
    QVERIFY(writeFile(root->filePath("outside.dll"), "old v1"));
    if (standing == "folder")
        QVERIFY(writeFile(listed + "/inner", "old v1"));
    else if (standing == "link"
             && !testplatform::makeSymbolicLink(root->filePath("outside.dll"), listed))
        QSKIP(noLinks);
    else if (standing != "link" && !standing.isEmpty())
        QVERIFY(writeFile(listed, standing.toUtf8()));
    if (beside)
        QVERIFY(writeFile(app + "/lib/user.txt", "the user's"));
    const QByteArray made = R"({"path": "Morvane.exe", "action": "add", "blake2b": ")"
            + blake2bHex("new") + R"(", "size": 3, "executable": false})";
    const QByteArray json = delta
            ? R"({"from": "1.0", "to": "1.1", "files": [)" + made
                    + R"(, {"path": "lib/old.dll", "action": "remove", "old-blake2b": ")"
                    + blake2bHex("old v1") + "\"}]}"
            : R"({"removed": [{"path": "lib/old.dll", "blake2b": [")" + blake2bHex("old v1")
                    + R"(", ")" + blake2bHex("old v2") + "\"]}]}";
    QVERIFY(writeFile(package,
                      makeZip({ { delta ? "delta.json" : ".removed.json", json },
                                { "Morvane.exe", "new" } })));
    Tree expected = snapshot(root->path(), ownFolder);
    if (note.startsWith("removed")) {
        expected.remove("app/lib/old.dll");
        if (!beside)
            expected.remove("app/lib");
    }

    PackageInstaller installer(package, app, delta ? PackageKind::Delta : PackageKind::Incremental);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    QCOMPARE(installer.notes(), note.isEmpty() ? QStringList() : QStringList(note));
    Tree after = snapshot(root->path(), ownFolder);
    QCOMPARE(after.take("app/Morvane.exe"), fileState(delta ? 0644 : 0600, "new"));
    expected.remove("app/Morvane.exe");
    QCOMPARE(after, expected);
}

void tst_PackageInstaller::existingLinks_data()
{
    QTest::addColumn<QString>("linkTarget"); // relative to the temporary root

    // Moves never follow a link on the way, so no folder of the package may be one.
    QTest::newRow("to a folder inside") << "app/real";
    QTest::newRow("to a folder outside") << "outside";
}

void tst_PackageInstaller::existingLinks()
{
    QFETCH(QString, linkTarget);

    QVERIFY(QDir().mkpath(root->filePath("app/real")));
    QVERIFY(QDir().mkpath(root->filePath("outside")));
    if (!testplatform::makeSymbolicLink(root->filePath(linkTarget), app + "/alias"))
        QSKIP(noLinks);
    QVERIFY(writeFile(package, makeZip({ { "alias/x", "through the link" } })));
    expectRefusal("entry leads through a link: alias", Error::Refused);
}

void tst_PackageInstaller::rollsBackFailedMove_data()
{
    QTest::addColumn<QString>("obstacle"); // a file already in the target directory
    QTest::addColumn<QString>("entry"); // the package's last entry, which meets the obstacle
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<Error>("kind");
    QTest::addColumn<qint64>("volume"); // a tmpfs of this size mounted over the target; 0: none

    QTest::newRow("folder where the package has a file")
            << "blocker/inner.txt"
            << "blocker"
            << "a folder stands in the way of" << Error::WriteFailed << qint64(0);
    QTest::newRow("file where the package has a folder")
            << "thing"
            << "thing/x"
            << "cannot create folder" << Error::WriteFailed << qint64(0);
    // Refused before anything is written: the margin kept free alone exceeds the volume.
    QTest::newRow("target's disk too small")
            << "other.txt"
            << "fresh.txt"
            << "not enough free space" << Error::NoSpace << qint64(1 << 20);
}

void tst_PackageInstaller::rollsBackFailedMove()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, entry);
    QFETCH(QString, expectedError);
    QFETCH(Error, kind);
    QFETCH(qint64, volume);

    const auto disk = volume > 0 ? std::make_unique<testplatform::TestMount>(app, volume) : nullptr;
    if (disk && !disk->isMounted())
        QSKIP(qPrintable(disk->whyNot()));
    QVERIFY(writeFile(app + "/a.txt", "old a", 0751));
    QVERIFY(writeFile(app + '/' + obstacle, "in the way"));
    QVERIFY(writeFile(
            package,
            makeZip({ { "a.txt", "new a" }, { "fresh/deep/new.txt", "new" }, { entry, "late" } })));
    expectRefusal(expectedError, kind);
}

// The install runs off this thread: a timer here keeps firing meanwhile, and a cancel leaves the
// tree as it was.
void tst_PackageInstaller::jobKeepsEventLoopRunning_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("to the end") << false;
    QTest::newRow("cancelled") << true;
}

void tst_PackageInstaller::jobKeepsEventLoopRunning()
{
    QFETCH(bool, cancel);

    QVERIFY(writeFile(app + "/big.bin", "old", 0755));
    QVector<ZipEntry> entries = manyFiles(3000, "job ");
    entries.append({ "big.bin", noise(96 << 20), ZipEntry::File, 0644 });
    QVERIFY(writeFile(package, makeZip(entries, Compression::Store)));
    const Tree before = snapshot(root->path(), ownFolder);
    QFile file(package);
    QVERIFY(file.open(QIODevice::ReadOnly));

    InstallJob job;
    QSignalSpy finished(&job, &InstallJob::finished);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(5);
    job.start(&file, app);
    QVERIFY(job.isRunning());
    if (cancel) {
        QTRY_VERIFY(ticks >= 2);
        job.cancel();
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
    QVERIFY(!job.isRunning());
    QCOMPARE(job.error(), cancel ? Error::Cancelled : Error::NoError);
    if (cancel) {
        QCOMPARE(finished.first(), QVariantList({ false, QStringLiteral("cancelled") }));
        QCOMPARE(snapshot(root->path(), ownFolder), before);
    } else {
        QCOMPARE(finished.first(), QVariantList({ true, QString() }));
        QCOMPARE(snapshot(app).value("big.bin"), fileState(0755, entries.last().data));
        QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    }
}

using Outcome = InstallRecovery::Outcome;

// Crash points: a child installs the package (or recovers an interrupted install) and kills
// itself at a chosen point; after the "damage" done to what it left, start-up's recovery leaves
// the old tree or the new one exactly, or, where it cannot prove an undo safe, keeps everything.
void tst_PackageInstaller::recoversFromCrash_data()
{
    QTest::addColumn<QStringList>("point"); // the probe's kill point
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("tree"); // "old", "new", or "kept": as the crash and damage left it
    QTest::addColumn<int>("outcome");

    const int old = int(Outcome::RolledBack);
    QTest::newRow("while staging") << QStringList { "staged", "400" } << ""
                                   << "old" << int(Outcome::Clean);
    QTest::newRow("folders made, nothing moved") << QStringList { "made", "n150" } << ""
                                                 << "old" << old;
    QTest::newRow("half way through the moves") << QStringList { "backup", "300" } << ""
                                                << "old" << old;
    QTest::newRow("a removed file moved aside") << QStringList { "backup", "901" } << ""
                                                << "old" << old;
    QTest::newRow("dangling link moved aside") << QStringList { "backup", "600" } << ""
                                               << "old" << old;
    QTest::newRow("marked done") << QStringList { "done" } << ""
                                 << "new" << int(Outcome::Clean);
    QTest::newRow("recovery killed twice") << QStringList { "backup", "599" } << "recovery"
                                           << "old" << old;
    QTest::newRow("killed while deleting a rolled-back staging folder")
            << QStringList { "backup", "300" } << "tidy" << "old" << int(Outcome::Clean);
    QTest::newRow("killed while deleting a finished staging folder")
            << QStringList { "tidy", "901" } << "" << "new" << int(Outcome::Clean);
    QTest::newRow("staged file vanished") << QStringList { "backup", "300" } << "vanish"
                                          << "old" << old;
    QTest::newRow("one journal copy damaged") << QStringList { "backup", "300" } << "one copy"
                                              << "old" << old;
    QTest::newRow("both copies damaged") << QStringList { "backup", "300" } << "both copies"
                                         << "kept" << int(Outcome::Unreadable);
    QTest::newRow("journal not ours") << QStringList { "backup", "300" } << "foreign"
                                      << "kept" << int(Outcome::Unreadable);
    QTest::newRow("journal leads outside") << QStringList { "backup", "300" } << "outside"
                                           << "kept" << int(Outcome::Unreadable);
    QTest::newRow("folder swapped for a link") << QStringList { "swap", "d5" } << ""
                                               << "kept" << int(Outcome::Clean);
    // A second process wrote the path meanwhile: both files are kept until it is gone.
    QTest::newRow("another file in the way") << QStringList { "backup", "300" } << "obstacle"
                                             << "old" << int(Outcome::Incomplete);
}

void tst_PackageInstaller::recoversFromCrash()
{
    QFETCH(QStringList, point);
    QFETCH(QString, damage);
    QFETCH(QString, tree);
    QFETCH(int, outcome);

    // 600 replaced files, a dangling link replaced by a file, 300 new files in new folders.
    QVector<ZipEntry> entries = manyFiles(600, "new ");
    entries.append(ZipEntry { "dangling", "now a file" });
    for (int i = 0; i < 300; ++i)
        entries.append(ZipEntry { QStringLiteral("n%1/g.txt").arg(i), "new folder" });
    // d0/obsolete.txt goes first, moved aside as file 901; d1/mine.txt, changed by the user, stays.
    const QByteArray list = R"({"removed": [{"path": "d0/obsolete.txt", "blake2b": [")"
            + blake2bHex("obsolete") + R"("]}, {"path": "d1/mine.txt", "blake2b": [")"
            + blake2bHex("published") + "\"]}]}";
    QVERIFY(writeFile(package, makeZip(QVector<ZipEntry> { { ".removed.json", list } } + entries)));
    QVERIFY(writeFile(app + "/d0/obsolete.txt", "obsolete"));
    QVERIFY(writeFile(app + "/d1/mine.txt", "the user's"));
    for (int i = 0; i < 600; ++i)
        QVERIFY(writeFile(app + '/' + entries.at(i).name, "old " + QByteArray::number(i)));
    // Where no link can be made, a file stands in: only the rows about links need one.
    if (!testplatform::makeSymbolicLink("nowhere", app + "/dangling")) {
        if (QByteArray(QTest::currentDataTag()).contains("link"))
            QSKIP(noLinks);
        QVERIFY(writeFile(app + "/dangling", "no link here"));
    }
    QVERIFY(writeFile(root->filePath("elsewhere/keep.txt"), "outside the application"));
    QVERIFY(QDir().mkpath(root->filePath("outside")));
    const Tree before = snapshot(root->path(), ownFolder);
    Tree after = before;
    after.remove("app/d0/obsolete.txt");
    for (const ZipEntry &entry : qAsConst(entries)) {
        after["app/" + entry.name] = fileState(0600, entry.data);
        if (entry.name.startsWith('n'))
            after["app/" + entry.name.section('/', 0, 0)] = "folder";
    }

    // A folder swapped for a link while staging: the install fails by itself and writes nothing
    // through the link.
    const bool swap = point.first() == "swap";
    if (swap)
        point << root->filePath("outside");
    const ProbeRun run
            = ProbeRun::run(INSTALL_PROBE, QStringList { "install", package, app } + point);
    QCOMPARE(run.exitCode, swap ? 0 : -1); // killed, not finished, unless only swapping
    QCOMPARE(QDir(root->filePath("outside")).isEmpty(), true);
    const QStringList staging
            = QDir(app).entryList({ ".updater-staging-*" }, QDir::Dirs | QDir::Hidden);
    QCOMPARE(staging.size(), swap ? 0 : 1);
    const QString folder = app + '/' + staging.value(0);
    const auto journal = [](const QByteArray &body) {
        return body + "C " + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex()
                + '\n';
    };
    if (damage == "recovery") {
        for (const char *at : { "500", "next" })
            QCOMPARE(ProbeRun::run(INSTALL_PROBE, { "recover", app, "undo", at }).exitCode, -1);
    } else if (damage == "tidy") {
        const QStringList tidy { "recover", app, "tidy", QString::number(entries.size()) };
        QCOMPARE(ProbeRun::run(INSTALL_PROBE, tidy).exitCode, -1);
    } else if (damage == "vanish") {
        QVERIFY(QFile::remove(folder + "/b1/500"));
    } else if (damage == "one copy" || damage == "both copies") {
        QVERIFY(QFile::resize(folder + "/journal-1", 100));
        if (damage == "both copies")
            QVERIFY(QFile::resize(folder + "/journal-2", 100));
    } else if (damage == "foreign" || damage == "outside") {
        const QByteArray planted = damage == "foreign"
                ? journal("other-journal 1\nF 5 1 2 d5/f5.txt\n")
                : journal("updater-journal 2\nD ../elsewhere\nF 5 1 2 3 4 ../elsewhere/keep.txt\n");
        for (const char *copy : { "/journal-1", "/journal-2" })
            QVERIFY(QFile::remove(folder + copy) && writeFile(folder + copy, planted));
    } else if (damage == "obstacle") {
        QVERIFY(QFile::remove(app + "/d5/f5.txt") && writeFile(app + "/d5/f5.txt", "theirs"));
    }
    const Tree interrupted = snapshot(root->path(), ownFolder);

    InstallRecovery recovery(app);
    QCOMPARE(int(recovery.run()), outcome);
    if (damage == "obstacle") {
        // Neither the other file nor the backup is lost; once the other file goes, the undo ends.
        QCOMPARE(readFile(app + "/d5/f5.txt"), QByteArray("theirs"));
        QCOMPARE(readFile(folder + "/b0/old-5"), QByteArray("old 5"));
        QVERIFY(QFile::remove(app + "/d5/f5.txt"));
        QCOMPARE(recovery.run(), Outcome::RolledBack);
    }
    const Tree expected = tree == "old" ? before : tree == "new" ? after : interrupted;
    QCOMPARE(snapshot(root->path(), ownFolder), expected);
    // Repeatable: a second start changes nothing more.
    recovery.run();
    QCOMPARE(snapshot(root->path(), ownFolder), expected);
}

// What stands at the update lock's name: whatever no live process holds is taken over, and
// nothing is followed out of the folder.
void tst_PackageInstaller::takesOverStaleLock_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("empty file") << "empty";
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("another host") << "host";
    QTest::newRow("folder") << "folder";
    QTest::newRow("dangling link") << "dangling link";
    QTest::newRow("link to an outside file") << "outside link";
    QTest::newRow("live holder in another process") << "live";
}

void tst_PackageInstaller::takesOverStaleLock()
{
    QFETCH(QString, kind);
    const QString lock = app + "/updater-downloads/updater.lock";
    const QString outside = root->filePath("outside.txt");
    QVERIFY(writeFile(outside, "not the updater's"));
    QVERIFY(writeFile(app + "/a.txt", "old"));
    QVERIFY(writeFile(package, makeZip({ { "a.txt", "new" } })));
    QVERIFY(QDir().mkpath(app + "/updater-downloads"));
    QProcess holder;
    if (kind == "live") {
        // Its own deadline: the holder ends by itself should this test stop half way.
        holder.start(INSTALL_PROBE, { "hold", app, "60" });
        QVERIFY(holder.waitForReadyRead(30000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    } else if (kind.endsWith("link")) {
        if (!testplatform::makeSymbolicLink(kind == "outside link" ? outside : "nowhere", lock))
            QSKIP(noLinks);
    } else if (kind == "folder") {
        QVERIFY(writeFile(lock + "/inner/file", "left behind"));
    } else {
        const QByteArray content = kind == "empty" ? QByteArray()
                : kind == "host"                   ? QByteArray("4242\nhost-b\n")
                                                   : noise(300);
        QVERIFY(writeFile(lock, content));
    }

    const qint64 pid = holder.processId();
    PackageInstaller installer(package, app);
    const bool installed = installer.install();
    if (kind == "live") {
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(installer.error(), Error::Busy);
        QCOMPARE(installer.errorString(),
                 QStringLiteral("another update is running (pid %1 on this computer)")
                         .arg(pid));
    }
    QCOMPARE(installed, kind != "live");
    QCOMPARE(readFile(app + "/a.txt"), QByteArray(installed ? "new" : "old"));
    QCOMPARE(readFile(outside), QByteArray("not the updater's"));
    // The lock goes with its holder.
    QCOMPARE(QFileInfo(lock).exists() || QFileInfo(lock).isSymLink(), kind == "live");
}

QTEST_GUILESS_MAIN(tst_PackageInstaller)
#include "tst_packageinstaller.moc"
