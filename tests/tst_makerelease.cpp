// tools/make-release run for real, its package unpacked by the updater's own installer and its
// manifest read the way the dialog reads it. The tool is the publisher's and runs where Python
// does: the functions that run it skip elsewhere (under Wine, say), and the release it made at
// build time (tests/make-fixtures) is checked everywhere.
#include "install/packageinstaller.h"
#include "road/manifest.h"
#include "testsupport.h"
#include "verify/minisignkey.h"
#include "verify/minisignsignature.h"
#include "verify/signatureverifier.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::fixture;

namespace {

const QString Script = QStringLiteral(UPDATER_SOURCE_DIR "/tools/make-release");
const QString BaseUrl = QStringLiteral("http://updates.example.com:1995/packages");

// The files of one release: nested folders, an empty one, executables, a binary file, and names
// with a space and with non-ASCII letters.
bool makeReleaseFolder(const QString &dir)
{
    QByteArray binary;
    for (int i = 0; i < 70000; ++i)
        binary.append(char((i * 7919) % 251));
    return testsupport::writeFile(dir + "/Morvane.exe", binary, 0755)
            && testsupport::writeFile(dir + "/readme.txt", "Morvane 1.1.0\n")
            && testsupport::writeFile(dir + "/bin/helper", "#!/bin/sh\necho helper\n", 0755)
            && testsupport::writeFile(dir + "/data/charts/line chart.json",
                                      "{\"kind\": \"line\"}\n")
            && testsupport::writeFile(dir + QString::fromUtf8("/data/Übersicht.txt"), "\xc3\x9c\n")
            && QDir().mkpath(dir + "/plugins/empty");
}

struct Run
{
    int exitCode = -1;
    QByteArray errors;
    QByteArray output;
};

Run runProgram(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    Run run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.errors = process.readAllStandardError();
    run.output = process.readAllStandardOutput();
    return run;
}

Run makeRelease(const QStringList &args)
{
    return runProgram(Script, args);
}

// BLAKE2b-512 in hex, as coreutils computes it.
QString blake2b(const QString &file)
{
    return QString::fromLatin1(runProgram("b2sum", { file }).output.left(128));
}

// The platform entry as the dialog reads it: "updates", then the platform key, as objects.
QJsonObject platformEntry(const QString &manifestPath, const QString &platform = "windows")
{
    const QJsonDocument doc = QJsonDocument::fromJson(testsupport::readFile(manifestPath));
    return doc.object().value("updates").toObject().value(platform).toObject();
}

} // namespace

class tst_MakeRelease : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void packageInstallsAsTheFolder();
    void packageEntries();
    void packageIsTheSameForTheSameFiles();
    void manifestHoldsTheFiveValues();
    void nextReleaseUpdatesOnlyItsEntry();
    void signedReleaseVerifies();
    void signedThenUnsigned();
    void expiryRenewed();
    void deltaPackage();
    void refuses_data();
    void refuses();

private:
    static bool runsHere() { return !QStandardPaths::findExecutable("python3").isEmpty(); }
    QString path(const QString &name) const { return work->filePath(name); }
    QStringList releaseArgs(const QString &version, const QString &output) const;

    QScopedPointer<QTemporaryDir> work;
};

void tst_MakeRelease::initTestCase()
{
    QVERIFY(QFileInfo::exists(Script));
}

void tst_MakeRelease::init()
{
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
    QVERIFY(makeReleaseFolder(path("files")));
    QVERIFY(testsupport::writeFile(path("Morvane-setup.exe"), "MZ full installer"));
}

QStringList tst_MakeRelease::releaseArgs(const QString &version, const QString &output) const
{
    return { version,         path("files"), "--changelog", "new charts\nfaster start",
             "--modify-time", "2024-03-01",  "--base-url",  BaseUrl,
             "--output",      output };
}

void tst_MakeRelease::packageInstallsAsTheFolder()
{
    PackageInstaller installer(fixture("release/out/Morvane-1.1.0.zip"), path("app"));
    QVERIFY(QDir().mkpath(path("app")));
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    // The installer takes its lock in the updater's own folder, which the release does not hold.
    QCOMPARE(testsupport::snapshot(path("app"), "updater-downloads"),
             testsupport::snapshot(fixture("release/files")));
}

void tst_MakeRelease::packageEntries()
{
    const auto listing = testsupport::zipListing(fixture("release/out/Morvane-1.1.0.zip"));
    QVERIFY(!listing.isEmpty());

    QStringList names, folders;
    for (const auto &[name, kind] : listing) {
        QVERIFY2(kind != "link", qPrintable(name));
        QVERIFY2(!name.contains('\\'), qPrintable(name));
        // Folders come before what they hold, so the zip can be unpacked front to back.
        const QString parent = QFileInfo(name).path();
        QVERIFY2(parent == "." || folders.contains(parent), qPrintable(name));
        names << name;
        if (kind == "folder")
            folders << name;
    }
    folders.sort();
    QCOMPARE(folders, QStringList({ "bin", "data", "data/charts", "plugins", "plugins/empty" }));
    QVERIFY(names.contains(QString::fromUtf8("data/Übersicht.txt")));
}

void tst_MakeRelease::packageIsTheSameForTheSameFiles()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    QVERIFY(makeRelease(releaseArgs("1.1.0", path("first"))).exitCode == 0);
    QVERIFY(makeRelease(releaseArgs("1.1.0", path("second"))).exitCode == 0);
    const QByteArray first = testsupport::readFile(path("first/Morvane-1.1.0.zip"));
    QVERIFY(!first.isEmpty());
    QCOMPARE(testsupport::readFile(path("second/Morvane-1.1.0.zip")), first);
}

void tst_MakeRelease::manifestHoldsTheFiveValues()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    const Run run = makeRelease(releaseArgs("1.1.0", path("out"))
                                << "--installer" << path("Morvane-setup.exe") << "--package"
                                << "update 1.1.0.zip");
    QVERIFY2(run.exitCode == 0, run.errors.constData());

    const QJsonObject entry = platformEntry(path("out/updates.json"));
    QCOMPARE(entry.value("latest-version").toString(), QStringLiteral("1.1.0"));
    QCOMPARE(entry.value("download-url").toString(), BaseUrl + "/update%201.1.0.zip");
    QCOMPARE(entry.value("full-url").toString(), BaseUrl + "/Morvane-setup.exe");
    QCOMPARE(entry.value("modify-time").toString(), QStringLiteral("2024-03-01"));
    QCOMPARE(entry.value("changelog").toString(), QStringLiteral("new charts\nfaster start"));
    QVERIFY(QFile::exists(path("out/update 1.1.0.zip")));
    QCOMPARE(testsupport::readFile(path("out/Morvane-setup.exe")),
             testsupport::readFile(path("Morvane-setup.exe")));
}

void tst_MakeRelease::nextReleaseUpdatesOnlyItsEntry()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    const QString manifest = path("site/updates.json");
    const QByteArray earlier = R"({
        "mirror": "kept",
        "updates": {
            "linux": {"latest-version": "0.9", "download-url": "http://old/l.zip"},
            "windows": {"latest-version": "1.0.0", "signed-by": "release team"}
        }
    })";
    QVERIFY(testsupport::writeFile(manifest, earlier));
    const QStringList manifestArg { "--manifest", manifest };
    const QStringList installerArg { "--installer", path("Morvane-setup.exe") };
    QCOMPARE(makeRelease(releaseArgs("1.1.0", path("out")) + manifestArg + installerArg).exitCode,
             0);
    const Run run = makeRelease(releaseArgs("1.2.0", path("out")) << manifestArg);
    QVERIFY2(run.exitCode == 0, run.errors.constData());

    const QJsonObject root = QJsonDocument::fromJson(testsupport::readFile(manifest)).object();
    QCOMPARE(root.value("mirror").toString(), QStringLiteral("kept"));
    const QJsonObject linux = platformEntry(manifest, "linux");
    QCOMPARE(linux.value("latest-version").toString(), QStringLiteral("0.9"));
    QCOMPARE(linux.value("download-url").toString(), QStringLiteral("http://old/l.zip"));
    QCOMPARE(linux.size(), 2);

    const QJsonObject windows = platformEntry(manifest);
    QCOMPARE(windows.value("latest-version").toString(), QStringLiteral("1.2.0"));
    QCOMPARE(windows.value("download-url").toString(), BaseUrl + "/Morvane-1.2.0.zip");
    // Without a new installer the earlier one stays the full package.
    QCOMPARE(windows.value("full-url").toString(), BaseUrl + "/Morvane-setup.exe");
    QCOMPARE(windows.value("signed-by").toString(), QStringLiteral("release team"));
    QVERIFY(QFile::exists(path("out/Morvane-1.1.0.zip")));
    QVERIFY(QFile::exists(path("out/Morvane-1.2.0.zip")));
}

void tst_MakeRelease::signedReleaseVerifies()
{
    const MinisignKey key = MinisignKey::fromString(testsupport::fixtureKey("release"));
    QVERIFY(!key.isNull());
    for (const QString name : { "Morvane-1.1.0.zip", "Morvane-setup.exe", "updates.json" }) {
        const QString file = fixture("release/out/" + name);
        QString why;
        const MinisignSignature signature
                = MinisignSignature::parse(testsupport::readFile(file + ".minisig"), &why);
        QVERIFY2(SignatureVerifier(key, signature).verifyData(testsupport::readFile(file), &why),
                 qPrintable(name + ": " + why));
        QVERIFY2(signature.namesFile(name), signature.trustedComment().constData());
    }
}

// minisign itself takes what the tool signed; an unsigned release over a signed one leaves no
// signature that no longer matches.
void tst_MakeRelease::signedThenUnsigned()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    const Run run = makeRelease(releaseArgs("1.1.0", path("out"))
                                << "--installer" << path("Morvane-setup.exe") << "--sign"
                                << fixture("keys/release.key"));
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    for (const QString name : { "Morvane-1.1.0.zip", "Morvane-setup.exe", "updates.json" }) {
        QVERIFY(testsupport::minisign({ "-V", "-q", "-P", testsupport::fixtureKey("release"), "-m",
                                        path("out/" + name) }));
    }

    QCOMPARE(makeRelease(releaseArgs("1.2.0", path("out"))).exitCode, 0);
    QVERIFY(!QFile::exists(path("out/updates.json.minisig")));
    QVERIFY(QFile::exists(path("out/Morvane-1.1.0.zip.minisig")));
}

// The expiry as the dialog reads it, days from now; a renewal signs the manifest alone, and
// only while it is still what the key signed.
void tst_MakeRelease::expiryRenewed()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    const QString key = fixture("keys/release.key");
    const QString manifest = path("out/updates.json");
    const auto expiresIn = [&manifest](int days) {
        Manifest read;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        return read.read(testsupport::readFile(manifest), "windows") == Manifest::Status::Read
                && qAbs(read.expires.secsTo(now.addDays(days))) < 600
                && testsupport::minisign(
                        { "-V", "-q", "-P", testsupport::fixtureKey("release"), "-m", manifest });
    };
    QStringList args = releaseArgs("1.1.0", path("out")) << "--sign" << key << "--expires";
    Run run = makeRelease(args + QStringList("30"));
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY(expiresIn(30));
    const QByteArray package = testsupport::readFile(path("out/Morvane-1.1.0.zip"));
    const QByteArray signature = testsupport::readFile(path("out/Morvane-1.1.0.zip.minisig"));

    const QStringList renew { "--resign", "--sign", key, "--output", path("out"), "--expires" };
    run = makeRelease(renew + QStringList("60"));
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY(expiresIn(60));
    QCOMPARE(testsupport::readFile(path("out/Morvane-1.1.0.zip")), package);
    QCOMPARE(testsupport::readFile(path("out/Morvane-1.1.0.zip.minisig")), signature);
    QCOMPARE(platformEntry(manifest).value("changelog").toString(),
             QStringLiteral("new charts\nfaster start"));

    QVERIFY(makeRelease({ "--resign", "--output", path("out"), "--expires", "5" }).exitCode > 0);
    // A release without --expires would leave the old time or drop it; both are refused.
    QVERIFY(makeRelease(releaseArgs("1.2.0", path("out")) << "--sign" << key).exitCode > 0);
    QByteArray altered = testsupport::readFile(manifest).replace("new charts", "old charts");
    QVERIFY(testsupport::writeFile(manifest, altered));
    QVERIFY(makeRelease(renew + QStringList("90")).exitCode > 0);
    QCOMPARE(testsupport::readFile(manifest), altered);
}

// Against an older release: Morvane.exe changed inside, readme.txt removed, plugins/new.dll
// added, the rest the same. zstd itself applies each patch; the manifest names the delta until
// a release without one. The removal travels in the delta and in the zip; a release that drops a
// file of the one published before, with no --previous that has it, warns.
void tst_MakeRelease::deltaPackage()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    QVERIFY(!QStandardPaths::findExecutable("zstd").isEmpty());
    QVERIFY(makeReleaseFolder(path("old")));
    QByteArray exe = testsupport::readFile(path("files/Morvane.exe"));
    exe.replace(30000, 16, "changed in 1.1.0").append("appended");
    QVERIFY(testsupport::writeFile(path("files/Morvane.exe"), exe, 0755));
    QVERIFY(testsupport::writeFile(path("files/plugins/new.dll"), "MZ plugin"));
    QVERIFY(QFile::remove(path("files/readme.txt")));
    const QStringList args = releaseArgs("1.1.0", path("out"))
            << "--delta-from" << path("old") << "--delta-from-version"
            << "1.0.0";
    const Run run = makeRelease(args);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const QString delta = path("out/Morvane-1.0.0-to-1.1.0.delta.zip");

    QStringList names;
    for (const auto &entry : testsupport::zipListing(delta))
        names << entry.first;
    QCOMPARE(names, QStringList({ "delta.json", "Morvane.exe", "plugins/new.dll" }));
    QCOMPARE(testsupport::zipListing(path("out/Morvane-1.1.0.zip")).value(0).first,
             QStringLiteral(".removed.json"));
    QCOMPARE(runProgram("python3", { "-m", "zipfile", "-e", delta, path("unpacked") }).exitCode, 0);
    const QByteArray json = testsupport::readFile(path("unpacked/delta.json"));
    const QJsonArray files = QJsonDocument::fromJson(json).object().value("files").toArray();
    QCOMPARE(files.size(), 3);
    QCOMPARE(files.at(2).toObject(),
             QJsonObject({ { "path", "readme.txt" },
                           { "action", "remove" },
                           { "old-blake2b", blake2b(path("old/readme.txt")) } }));
    for (int i = 0; i < 2; ++i) {
        const QJsonObject item = files.at(i).toObject();
        const QString name = item.value("path").toString();
        const QString newFile = path("files/" + name);
        QString result = path("unpacked/" + name);
        if (name == "Morvane.exe") {
            QCOMPARE(item.value("action").toString(), QStringLiteral("patch"));
            QCOMPARE(item.value("old-blake2b").toString(), blake2b(path("old/" + name)));
            result = path("patched");
            const Run zstd = runProgram("zstd",
                                        { "-q", "-d", "--patch-from=" + path("old/" + name),
                                          path("unpacked/" + name), "-o", result });
            QVERIFY2(zstd.exitCode == 0, zstd.errors.constData());
        } else {
            QCOMPARE(item.value("action").toString(), QStringLiteral("add"));
            QVERIFY(!item.contains("old-blake2b"));
        }
        QCOMPARE(testsupport::readFile(result), testsupport::readFile(newFile));
        QCOMPARE(item.value("blake2b").toString(), blake2b(result));
        QCOMPARE(item.value("size").toInt(-1), int(QFileInfo(newFile).size()));
        QCOMPARE(item.value("executable").toBool(), QFileInfo(newFile).isExecutable());
    }

    // The updater's own decoder agrees: the delta makes the new files of an installed old release.
    QVERIFY(makeReleaseFolder(path("installed")));
    PackageInstaller installer(delta, path("installed"), PackageKind::Delta);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    for (const char *name : { "Morvane.exe", "plugins/new.dll", "bin/helper" })
        QCOMPARE(testsupport::readFile(path("installed/") + name),
                 testsupport::readFile(path("files/") + name));
    QVERIFY(!QFile::exists(path("installed/readme.txt")));
    // The zip lists it too, for an installation of the old release that gets the zip.
    QVERIFY(makeReleaseFolder(path("zipped")));
    PackageInstaller zipped(path("out/Morvane-1.1.0.zip"), path("zipped"));
    QVERIFY2(zipped.install(), qPrintable(zipped.errorString()));
    QCOMPARE(zipped.notes(), QStringList("removed readme.txt"));

    // The same files, touched since, give the same delta package.
    QCOMPARE(runProgram("touch", { "-d", "2030-01-01", path("files/plugins/new.dll") }).exitCode,
             0);
    QCOMPARE(makeRelease(QStringList(args).replaceInStrings(path("out"), path("again"))).exitCode,
             0);
    QCOMPARE(testsupport::readFile(path("again/Morvane-1.0.0-to-1.1.0.delta.zip")),
             testsupport::readFile(delta));

    QCOMPARE(platformEntry(path("out/updates.json")).value("delta-url").toString(),
             BaseUrl + "/Morvane-1.0.0-to-1.1.0.delta.zip");
    QCOMPARE(platformEntry(path("out/updates.json")).value("delta-from").toString(),
             QStringLiteral("1.0.0"));
    // A later release without a delta names none: the old one would patch to 1.1.0. It drops a
    // file of the release published before and names no --previous that has it: a warning.
    QVERIFY(QFile::remove(path("files/bin/helper")));
    const Run dropped = makeRelease(releaseArgs("1.2.0", path("out")));
    QCOMPARE(dropped.exitCode, 0);
    QVERIFY2(dropped.errors.contains("bin/helper is in Morvane-1.1.0.zip but not in 1.2.0"),
             dropped.errors.constData());
    const QJsonObject entry = platformEntry(path("out/updates.json"));
    QVERIFY(entry.contains("changelog"));
    QVERIFY(!entry.contains("delta-url") && !entry.contains("delta-from"));
}

void tst_MakeRelease::refuses_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("link"); // made in the release folder
    QTest::addColumn<QString>("installer"); // made beside it and passed with --installer
    QTest::addColumn<QByteArray>("secretKey"); // written beside it and passed with --sign
    QTest::addColumn<QString>("deltaFrom"); // passed with --delta-from; "old" is made with a link
    QTest::addColumn<QStringList>("extra"); // further arguments
    const auto row = [](const char *name, const char *version, const char *link = "",
                        const char *installer = "", const QByteArray &secretKey = {},
                        const char *deltaFrom = "", const QStringList &extra = {}) {
        QTest::newRow(name) << version << link << installer << secretKey << deltaFrom << extra;
    };
    row("link to a file", "1.1.0", "readme link.txt");
    row("link to a folder", "1.1.0", "data/again");
    row("letters", "1.1a");
    row("empty part", "1..1");
    row("trailing dot", "1.1.");
    row("leading v", "v1.1");
    row("empty", "");
    row("part of ten digits", "1.1000000000");
    row("installer not an .exe", "1.1.0", "", "Morvane-setup.msi");
    row("old folder missing", "1.1.0", "", "", {}, "missing");
    row("old folder with a link", "1.1.0", "", "", {}, "old");
    row("old folder holds the output", "1.1.0", "", "", {}, ".");
    row("expiry of no days", "1.1.0", "", "", {}, "", { "--expires", "0" });
    row("previous folder missing", "1.1.0", "", "", {}, "", { "--previous", "missing" });
    row("removal list's name in the release", "1.1.0", ".removed.json");
    // The package and the manifest are written by then: a key that minisign cannot use
    // must still publish nothing.
    if (!QStandardPaths::findExecutable("minisign").isEmpty())
        row("secret key minisign cannot read", "1.1.0", "", "", "untrusted comment: no key\n");
}

void tst_MakeRelease::refuses()
{
    if (!runsHere())
        QSKIP("make-release runs where python3 does");
    QFETCH(QString, version);
    QFETCH(QString, link);
    QFETCH(QString, installer);
    QFETCH(QByteArray, secretKey);
    QFETCH(QString, deltaFrom);
    QFETCH(QStringList, extra);
    if (link == ".removed.json") {
        QVERIFY(testsupport::writeFile(path("files/.removed.json"), "{}"));
    } else if (!link.isEmpty()) {
        const QString target = link.startsWith("data/") ? path("files/bin") : "readme.txt";
        QVERIFY(QFile::link(target, path("files/" + link)));
    }
    QStringList args = releaseArgs(version, path("out")) + extra;
    if (!installer.isEmpty()) {
        QVERIFY(testsupport::writeFile(path(installer), "MZ"));
        args << "--installer" << path(installer);
    }
    if (!secretKey.isEmpty()) {
        QVERIFY(testsupport::writeFile(path("release.key"), secretKey));
        args << "--sign" << path("release.key");
    }
    if (!deltaFrom.isEmpty()) {
        if (deltaFrom == "old") {
            QVERIFY(makeReleaseFolder(path("old")));
            QVERIFY(QFile::link("readme.txt", path("old/readme link.txt")));
        }
        args << "--delta-from" << path(deltaFrom) << "--delta-from-version"
             << "1.0.0";
    }
    const QString manifest = path("out/updates.json");
    const QByteArray before = R"({"updates": {"windows": {"latest-version": "1.0.0"}}})";
    QVERIFY(testsupport::writeFile(manifest, before));

    const Run run = makeRelease(args);
    QVERIFY(run.exitCode > 0);
    QVERIFY(!run.errors.isEmpty());
    QCOMPARE(QDir(path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList("updates.json"));
    QCOMPARE(testsupport::readFile(manifest), before);
}

QTEST_GUILESS_MAIN(tst_MakeRelease)
#include "tst_makerelease.moc"
