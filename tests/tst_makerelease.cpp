// tools/make-release run for real, its package unpacked by the updater's own installer and its
// manifest read the way the dialog reads it. The tool is the publisher's and runs where Python
// does: the functions that run it skip elsewhere (under Wine, say), and the release it made at
// build time (tests/make-fixtures) is checked everywhere.
#include "install/packageinstaller.h"
#include "testsupport.h"
#include "verify/minisignkey.h"
#include "verify/minisignsignature.h"
#include "verify/signatureverifier.h"

#include <QFile>
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
};

Run makeRelease(const QStringList &args)
{
    QProcess process;
    process.start(Script, args);
    Run run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.errors = process.readAllStandardError();
    return run;
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

void tst_MakeRelease::refuses_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("link"); // made in the release folder
    QTest::addColumn<QString>("installer"); // made beside it and passed with --installer
    QTest::addColumn<QByteArray>("secretKey"); // written beside it and passed with --sign
    const auto row = [](const char *name, const char *version, const char *link = "",
                        const char *installer = "", const QByteArray &secretKey = {}) {
        QTest::newRow(name) << version << link << installer << secretKey;
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
    if (!link.isEmpty()) {
        const QString target = link.startsWith("data/") ? path("files/bin") : "readme.txt";
        QVERIFY(QFile::link(target, path("files/" + link)));
    }
    QStringList args = releaseArgs(version, path("out"));
    if (!installer.isEmpty()) {
        QVERIFY(testsupport::writeFile(path(installer), "MZ"));
        args << "--installer" << path(installer);
    }
    if (!secretKey.isEmpty()) {
        QVERIFY(testsupport::writeFile(path("release.key"), secretKey));
        args << "--sign" << path("release.key");
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
