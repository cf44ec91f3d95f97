#include "install/packageinstaller.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>

namespace {

struct ZipEntry
{
    enum Kind { File, Dir, Link };
    QString name;
    QByteArray data; // a link's destination for a link
    Kind kind = File;
    int mode = 0; // Unix mode of a file entry; 0 keeps QZipWriter's owner read and write
};

QFile::Permissions fromMode(int mode)
{
    return QFile::Permissions(((mode & 0700) << 6) | ((mode & 070) << 1) | (mode & 07));
}

int toMode(QFile::Permissions permissions)
{
    const int bits = int(permissions);
    return ((bits >> 6) & 0700) | ((bits >> 1) & 070) | (bits & 07);
}

quint32 read32(const QByteArray &zip, int at)
{
    return qFromLittleEndian<quint32>(zip.constData() + at);
}
quint16 read16(const QByteArray &zip, int at)
{
    return qFromLittleEndian<quint16>(zip.constData() + at);
}
void write16(QByteArray &zip, int at, quint16 value)
{
    qToLittleEndian(value, zip.data() + at);
}
void write32(QByteArray &zip, int at, quint32 value)
{
    qToLittleEndian(value, zip.data() + at);
}

int endRecord(const QByteArray &zip)
{
    return zip.lastIndexOf("PK\x05\x06");
}

QVector<int> centralHeaders(const QByteArray &zip)
{
    const int end = endRecord(zip);
    QVector<int> headers;
    int at = int(read32(zip, end + 16));
    for (int i = 0; i < read16(zip, end + 10); ++i) {
        headers.append(at);
        at += 46 + read16(zip, at + 28) + read16(zip, at + 30) + read16(zip, at + 32);
    }
    return headers;
}

QByteArray makeZip(const QVector<ZipEntry> &entries,
                   QZipWriter::CompressionPolicy policy = QZipWriter::AutoCompress)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QZipWriter writer(&buffer);
    writer.setCompressionPolicy(policy);
    for (const ZipEntry &entry : entries) {
        switch (entry.kind) {
        case ZipEntry::File:
            writer.addFile(entry.name, entry.data);
            break;
        case ZipEntry::Dir:
            writer.addDirectory(entry.name);
            break;
        case ZipEntry::Link:
            writer.addSymLink(entry.name, QString::fromUtf8(entry.data));
            break;
        }
    }
    writer.close();
    QByteArray zip = buffer.data();
    // QZipWriter drops the owner's execute bit, so modes go straight into the central header.
    const QVector<int> headers = centralHeaders(zip);
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).mode != 0)
            write32(zip, headers.at(i) + 38, quint32(0100000 | entries.at(i).mode) << 16);
    }
    return zip;
}

// QZipWriter tidies names up, so hostile names are written over stand-ins of the same length in
// both the local and the central header. A name ending in '/' makes a folder entry.
QByteArray zipWithRawNames(const QVector<QPair<QByteArray, QByteArray>> &raw)
{
    QVector<ZipEntry> standIns;
    for (int i = 0; i < raw.size(); ++i) {
        const bool isDir = raw.at(i).first.endsWith('/');
        standIns.append({ QString(raw.at(i).first.size() - isDir, QChar('a' + i)), raw.at(i).second,
                          isDir ? ZipEntry::Dir : ZipEntry::File });
    }
    QByteArray zip = makeZip(standIns);
    const QVector<int> headers = centralHeaders(zip);
    for (int i = 0; i < raw.size(); ++i) {
        const QByteArray &name = raw.at(i).first;
        zip.replace(headers.at(i) + 46, name.size(), name);
        zip.replace(int(read32(zip, headers.at(i) + 42)) + 30, name.size(), name);
    }
    return zip;
}

// Marks an entry as made on FAT, which carries no Unix mode.
QByteArray withoutUnixMode(QByteArray zip, int index)
{
    const int header = centralHeaders(zip).at(index);
    write16(zip, header + 4, 20);
    write32(zip, header + 38, 0);
    return zip;
}

// Everything under root without following links: what each path is, a file's mode and bytes.
using Tree = QMap<QString, QByteArray>;
Tree snapshot(const QString &root)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray &value = tree[path.mid(root.size() + 1)];
        if (info.isSymLink()) {
            value = "link to " + info.symLinkTarget().toUtf8();
        } else if (info.isDir()) {
            value = "folder";
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            value = QByteArray::number(toMode(info.permissions()), 8) + ' ' + file.readAll();
        }
    }
    return tree;
}

QByteArray fileState(int mode, const QByteArray &content)
{
    return QByteArray::number(mode, 8) + ' ' + content;
}

bool writeFile(const QString &path, const QByteArray &data, int mode = 0644)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
            && file.write(data) == data.size() && file.setPermissions(fromMode(mode));
}

// Bytes that deflate cannot shrink, so that QZipWriter stores them.
QByteArray noise(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 12345;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 24);
    }
    return bytes;
}

} // namespace

class tst_PackageInstaller : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void installsPackage();
    void permissions_data();
    void permissions();
    void rejectsPackage_data();
    void rejectsPackage();
    void existingLinks_data();
    void existingLinks();
    void rollsBackFailedMove_data();
    void rollsBackFailedMove();

private:
    void expectRefusal(const QString &expectedError);

    std::unique_ptr<QTemporaryDir> root;
    QString app;
    QString package;
};

void tst_PackageInstaller::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    app = root->filePath(QStringLiteral("app"));
    package = app + QStringLiteral("/update.zip");
    QVERIFY(QDir().mkdir(app));
}

void tst_PackageInstaller::installsPackage()
{
    QVERIFY(writeFile(app + "/bin/Morvane.exe", "old program", 0755));
    QVERIFY(writeFile(app + "/old/keep.txt", "untouched"));
    const QVector<ZipEntry> entries = {
        { "bin/", {}, ZipEntry::Dir },
        { "bin/Morvane.exe", QByteArray(70000, '\x90') + "end", ZipEntry::File, 0755 },
        { "lib/plugins/deep/plugin.so", noise(5000) },
        { ".hidden", "dot file" },
        { "empty.txt", {} },
        { QString::fromUtf8("données/Ünïcödé.txt"), "non-ASCII name" },
        { "emptydir/", {}, ZipEntry::Dir },
    };
    QVERIFY(writeFile(package, makeZip(entries)));
    Tree expected = snapshot(root->path());

    PackageInstaller installer(package, app);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    QCOMPARE(installer.errorString(), QString());

    expected["app/bin/Morvane.exe"] = fileState(0755, entries.at(1).data);
    expected["app/lib"] = expected["app/lib/plugins"] = expected["app/lib/plugins/deep"] = "folder";
    expected["app/lib/plugins/deep/plugin.so"] = fileState(0600, entries.at(2).data);
    expected["app/.hidden"] = fileState(0600, "dot file");
    expected["app/empty.txt"] = fileState(0600, {});
    expected[QString::fromUtf8("app/données")] = "folder";
    expected[QString::fromUtf8("app/données/Ünïcödé.txt")] = fileState(0600, "non-ASCII name");
    expected["app/emptydir"] = "folder";
    const Tree after = snapshot(root->path());
    QCOMPARE(after.keys(), expected.keys());
    QCOMPARE(after, expected);
}

void tst_PackageInstaller::permissions_data()
{
    QTest::addColumn<int>("existingMode"); // -1: no file to replace
    QTest::addColumn<int>("archiveMode"); // 0: the entry carries no Unix mode
    QTest::addColumn<int>("expectedMode");

    QTest::newRow("archive mode on a new file") << -1 << 0750 << 0750;
    QTest::newRow("owner keeps read and write") << -1 << 0400 << 0600;
    QTest::newRow("archive mode narrows a replaced file") << 0666 << 0640 << 0640;
    QTest::newRow("replaced program stays executable") << 0755 << 0644 << 0755;
    QTest::newRow("no mode in the archive keeps the replaced one") << 0751 << 0 << 0751;
}

void tst_PackageInstaller::permissions()
{
    QFETCH(int, existingMode);
    QFETCH(int, archiveMode);
    QFETCH(int, expectedMode);

    const QString tool = app + "/tool";
    if (existingMode >= 0)
        QVERIFY(writeFile(tool, "old", existingMode));
    const QByteArray zip = makeZip({ { "tool", "new", ZipEntry::File, archiveMode } });
    QVERIFY(writeFile(package, archiveMode ? zip : withoutUnixMode(zip, 0)));

    PackageInstaller installer(package, app);
    QVERIFY2(installer.install(), qPrintable(installer.errorString()));
    QCOMPARE(snapshot(app).value("tool"), fileState(expectedMode, "new"));
}

// Installing the package fails with expectedError, and nothing under the temporary root (the
// target and its parent) has changed in any way.
void tst_PackageInstaller::expectRefusal(const QString &expectedError)
{
    const Tree before = snapshot(root->path());

    PackageInstaller installer(package, app);
    QVERIFY(!installer.install());
    QVERIFY2(installer.errorString().startsWith(expectedError),
             qPrintable(installer.errorString()));
    const Tree after = snapshot(root->path());
    QCOMPARE(after.keys(), before.keys());
    QCOMPARE(after, before);
}

void tst_PackageInstaller::rejectsPackage_data()
{
    QTest::addColumn<QByteArray>("zip");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("expectedError"); // how errorString() starts

    auto hostileName = [](const char *tag, const QVector<QPair<QByteArray, QByteArray>> &raw) {
        QTest::newRow(tag) << zipWithRawNames(raw) << true
                           << "unsafe entry name: " + QString::fromUtf8(raw.last().first);
    };
    hostileName("parent folder", { { "../x", "escape" } });
    hostileName("climb out after a folder entry", { { "sub/", {} }, { "sub/../../x", "escape" } });
    hostileName("absolute path", { { "/abs", "x" } });
    hostileName("drive letter", { { "C:/x", "x" } });
    hostileName("backslash", { { "a\\..\\..\\x", "x" } });
    hostileName("current folder", { { "./x", "x" } });
    hostileName("trailing dot", { { "x", "x" }, { "x.", "x" } });

    QTest::newRow("write through a link entry")
            << makeZip({ { "sub", "..", ZipEntry::Link }, { "sub/x", "escape" } }) << true
            << "link entry: sub";
    QTest::newRow("same file twice") << makeZip({ { "a", "1" }, { "a", "2" } }) << true
                                     << "entry clashes with another entry: a";
    QTest::newRow("file and folder of one name") << makeZip({ { "a", "1" }, { "a/b", "2" } })
                                                 << true << "entry clashes with another entry: a/b";

    const QByteArray stored
            = makeZip({ { "keep", "first" }, { "f", "stored data" } }, QZipWriter::NeverCompress);
    const int sizeField = centralHeaders(stored).at(1) + 24;
    QByteArray flipped = stored;
    flipped[stored.indexOf("stored data")] = 'S';
    QTest::newRow("crc mismatch") << flipped << true << "damaged entry: f";
    QByteArray longer = stored;
    write32(longer, sizeField, read32(stored, sizeField) + 1);
    QTest::newRow("size mismatch") << longer << true << "damaged entry: f";
    QByteArray huge = stored;
    write32(huge, sizeField, 0xfffffff0u);
    QTest::newRow("absurd declared size") << huge << true << "entry too large: f";
    QByteArray amiga = stored;
    write16(amiga, centralHeaders(stored).at(1) + 4, 0x0114);
    QTest::newRow("unknown host system") << amiga << true << "unsupported entry: f";

    const QString unreadable = QStringLiteral("package is not a readable zip archive");
    QTest::newRow("truncated") << stored.left(stored.size() - 10) << true << unreadable;
    QTest::newRow("cut in the middle") << stored.left(stored.size() / 2) << true << unreadable;
    QTest::newRow("garbage") << QByteArray(4096, 'g') << true << unreadable;
    QByteArray moreEntries = stored;
    write16(moreEntries, endRecord(stored) + 8, 3);
    write16(moreEntries, endRecord(stored) + 10, 3);
    QTest::newRow("end record counts an entry too many") << moreEntries << true << unreadable;
    QTest::newRow("empty archive") << makeZip({}) << true << "package holds no entry";
    QTest::newRow("missing package") << QByteArray() << false << "cannot open package";
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
    expectRefusal(expectedError);
}

void tst_PackageInstaller::existingLinks_data()
{
    QTest::addColumn<QString>("linkTarget"); // relative to the temporary root
    QTest::addColumn<bool>("accepted");

    QTest::newRow("to a folder inside") << "app/real" << true;
    QTest::newRow("to a folder outside") << "outside" << false;
}

void tst_PackageInstaller::existingLinks()
{
    QFETCH(QString, linkTarget);
    QFETCH(bool, accepted);

    QVERIFY(QDir().mkpath(root->filePath("app/real")));
    QVERIFY(QDir().mkpath(root->filePath("outside")));
    QVERIFY(QFile::link(root->filePath(linkTarget), app + "/alias"));
    QVERIFY(writeFile(package, makeZip({ { "alias/x", "through the link" } })));
    const Tree before = snapshot(root->path());

    PackageInstaller installer(package, app);
    QCOMPARE(installer.install(), accepted);
    Tree expected = before;
    if (accepted)
        expected[linkTarget + "/x"] = fileState(0600, "through the link");
    else
        QCOMPARE(installer.errorString(),
                 QString("entry leads outside the target directory: alias"));
    QCOMPARE(snapshot(root->path()), expected);
}

void tst_PackageInstaller::rollsBackFailedMove_data()
{
    QTest::addColumn<QString>("obstacle"); // a file already in the target directory
    QTest::addColumn<QString>("entry"); // the package's last entry, which meets the obstacle
    QTest::addColumn<QString>("expectedError");

    QTest::newRow("folder where the package has a file") << "blocker/inner.txt"
                                                         << "blocker"
                                                         << "a folder stands in the way of";
    QTest::newRow("file where the package has a folder") << "thing"
                                                         << "thing/x"
                                                         << "cannot create folder";
}

void tst_PackageInstaller::rollsBackFailedMove()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, entry);
    QFETCH(QString, expectedError);

    QVERIFY(writeFile(app + "/a.txt", "old a", 0751));
    QVERIFY(writeFile(app + '/' + obstacle, "in the way"));
    QVERIFY(writeFile(
            package,
            makeZip({ { "a.txt", "new a" }, { "fresh/deep/new.txt", "new" }, { entry, "late" } })));
    expectRefusal(expectedError);
}

QTEST_GUILESS_MAIN(tst_PackageInstaller)
#include "tst_packageinstaller.moc"
