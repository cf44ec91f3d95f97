// The Windows resources of updater.exe, checked on any host: resources/updater.rc, compiled
// with MinGW's windres into a .res file at build time (tests/make-fixtures), read back record by
// record.
#include "testsupport.h"

#include <QFile>
#include <QVector>
#include <QtEndian>
#include <QtTest>

namespace {

const quint16 RtIcon = 3;
const quint16 RtGroupIcon = 14;
const quint16 RtVersion = 16;
const quint16 RtManifest = 24;
const quint16 UsEnglish = 0x0409;

// Little-endian reader over a byte array; reading past the end yields zeros and clears ok.
class Reader
{
public:
    explicit Reader(const QByteArray &bytes, int pos = 0)
        : bytes(bytes)
        , pos(pos)
    { }

    quint16 peek16() const
    {
        return pos + 2 <= bytes.size() ? qFromLittleEndian<quint16>(bytes.constData() + pos) : 0;
    }
    quint16 u16() { return take(2) ? qFromLittleEndian<quint16>(bytes.constData() + pos - 2) : 0; }
    quint32 u32() { return take(4) ? qFromLittleEndian<quint32>(bytes.constData() + pos - 4) : 0; }
    QByteArray raw(int size) { return take(size) ? bytes.mid(pos - size, size) : QByteArray(); }
    QString utf16z()
    {
        QString text;
        for (quint16 c = u16(); ok && c != 0; c = u16())
            text += QChar(c);
        return text;
    }
    void align() { pos = (pos + 3) & ~3; }

    const QByteArray bytes;
    int pos;
    bool ok = true;

private:
    bool take(int size)
    {
        if (size < 0 || pos + size > bytes.size()) {
            ok = false;
            return false;
        }
        pos += size;
        return true;
    }
};

// A type or name of a resource: a 16-bit ordinal or a text.
struct ResourceId
{
    quint16 ordinal = 0;
    QString name;
};

ResourceId readId(Reader &in)
{
    ResourceId id;
    if (in.peek16() == 0xFFFF) {
        in.u16();
        id.ordinal = in.u16();
    } else {
        id.name = in.utf16z();
    }
    return id;
}

struct Resource
{
    ResourceId type;
    ResourceId name;
    quint16 language = 0;
    QByteArray data;
};

// One node of a VS_VERSIONINFO tree: key, value bytes (text values decoded) and children.
struct VersionNode
{
    QString key;
    QByteArray value;
    QString text;
    QVector<VersionNode> children;

    const VersionNode *child(const QString &name) const
    {
        for (const VersionNode &c : children)
            if (c.key == name)
                return &c;
        return nullptr;
    }
};

VersionNode readVersionNode(Reader &in)
{
    VersionNode node;
    const int start = in.pos;
    const quint16 length = in.u16();
    const quint16 valueLength = in.u16();
    const quint16 type = in.u16();
    node.key = in.utf16z();
    in.align();
    if (type == 1) {
        // Text: the length counts 16-bit characters, the terminator included.
        Reader text(in.raw(valueLength * 2));
        node.text = text.utf16z();
    } else {
        node.value = in.raw(valueLength);
    }
    in.align();
    while (in.ok && in.pos < start + length) {
        const int before = in.pos;
        node.children.append(readVersionNode(in));
        if (in.pos <= before)
            break;
        in.align();
    }
    in.pos = start + length;
    return node;
}

} // namespace

class tst_WinResource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconGroupHasOne256PixelEntry();
    void iconImageIsThePngOfTheIconFile();
    void fixedVersionIsZero();
    void versionStrings_data();
    void versionStrings();
    void stringTableHasNoOtherValues();
    void translationIsUsEnglishUnicode();
    void everyResourceIsUsEnglish();
    void noManifest();

private:
    const Resource *find(quint16 type, const QString &name = QString()) const;
    VersionNode versionInfo() const;

    QVector<Resource> resources;
};

void tst_WinResource::initTestCase()
{
    QFile file(testsupport::fixture("updater.res"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    Reader in(file.readAll());
    while (in.ok && in.pos < in.bytes.size()) {
        const quint32 dataSize = in.u32();
        const int headerStart = in.pos - 4;
        const quint32 headerSize = in.u32();
        Resource r;
        r.type = readId(in);
        r.name = readId(in);
        in.align();
        in.u32(); // data version
        in.u16(); // memory flags
        r.language = in.u16();
        in.pos = headerStart + int(headerSize);
        r.data = in.raw(int(dataSize));
        in.align();
        // The file starts with an empty record that only marks the format.
        if (r.type.name.isEmpty() && r.type.ordinal == 0)
            continue;
        resources.append(r);
    }
    QVERIFY2(in.ok, "the .res file ends inside a record");
    QVERIFY(!resources.isEmpty());
}

const Resource *tst_WinResource::find(quint16 type, const QString &name) const
{
    for (const Resource &r : resources)
        if (r.type.name.isEmpty() && r.type.ordinal == type
            && (name.isEmpty() || r.name.name == name))
            return &r;
    return nullptr;
}

VersionNode tst_WinResource::versionInfo() const
{
    const Resource *version = find(RtVersion);
    if (!version)
        return {};
    Reader in(version->data);
    return readVersionNode(in);
}

void tst_WinResource::iconGroupHasOne256PixelEntry()
{
    const Resource *group = find(RtGroupIcon, "IDI_ICON1");
    QVERIFY2(group, "no icon group named IDI_ICON1");
    Reader in(group->data);
    QCOMPARE(in.u16(), quint16(0)); // reserved
    QCOMPARE(in.u16(), quint16(1)); // icon, not cursor
    QCOMPARE(in.u16(), quint16(1)); // one entry
    const QByteArray entry = in.raw(4);
    QCOMPARE(entry, QByteArray(4, '\0')); // width and height 0 mean 256; no palette
    QCOMPARE(in.u16(), quint16(1)); // planes
    QCOMPARE(in.u16(), quint16(32)); // bits per pixel
    const quint32 size = in.u32();
    const quint16 id = in.u16();
    QVERIFY(in.ok);

    bool found = false;
    for (const Resource &r : resources) {
        if (r.type.ordinal == RtIcon && r.name.name.isEmpty() && r.name.ordinal == id) {
            QCOMPARE(quint32(r.data.size()), size);
            found = true;
        }
    }
    QVERIFY2(found, "the group names an icon image that is not there");
}

void tst_WinResource::iconImageIsThePngOfTheIconFile()
{
    QFile ico(QStringLiteral(UPDATER_SOURCE_DIR "/resources/140xfd.ico"));
    QVERIFY(ico.open(QIODevice::ReadOnly));
    Reader in(ico.readAll());
    in.pos = 6 + 8; // the first directory entry's size field
    const quint32 size = in.u32();
    const quint32 offset = in.u32();
    QVERIFY(in.ok);
    const QByteArray png = in.bytes.mid(int(offset), int(size));
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));

    const Resource *icon = find(RtIcon);
    QVERIFY(icon);
    QCOMPARE(icon->data, png);
}

void tst_WinResource::fixedVersionIsZero()
{
    const VersionNode root = versionInfo();
    QCOMPARE(root.key, QStringLiteral("VS_VERSION_INFO"));
    QCOMPARE(root.value.size(), 52);
    Reader in(root.value);
    QCOMPARE(in.u32(), quint32(0xFEEF04BD)); // signature
    in.u32(); // structure version
    QCOMPARE(in.u32(), quint32(0)); // file version, high and low
    QCOMPARE(in.u32(), quint32(0));
    QCOMPARE(in.u32(), quint32(0)); // product version, high and low
    QCOMPARE(in.u32(), quint32(0));
}

void tst_WinResource::versionStrings_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("company") << "CompanyName"
                             << "";
    QTest::newRow("description") << "FileDescription"
                                 << "";
    QTest::newRow("file version") << "FileVersion"
                                  << "0.0.0.0";
    QTest::newRow("copyright") << "LegalCopyright"
                               << "";
    QTest::newRow("file name") << "OriginalFilename"
                               << "updater.exe";
    QTest::newRow("product") << "ProductName"
                             << "updater";
    QTest::newRow("product version") << "ProductVersion"
                                     << "0.0.0.0";
}

void tst_WinResource::versionStrings()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const VersionNode root = versionInfo();
    const VersionNode *strings = root.child("StringFileInfo");
    QVERIFY(strings);
    QCOMPARE(strings->children.size(), 1);
    const VersionNode *table = strings->child("040904b0");
    QVERIFY2(table, "no string table 040904b0");
    const VersionNode *entry = table->child(key);
    QVERIFY2(entry, qPrintable(key + " is missing"));
    QCOMPARE(entry->text, value);
}

void tst_WinResource::stringTableHasNoOtherValues()
{
    const VersionNode root = versionInfo();
    const VersionNode *strings = root.child("StringFileInfo");
    QVERIFY(strings && !strings->children.isEmpty());
    QStringList keys;
    for (const VersionNode &entry : strings->children.first().children)
        keys << entry.key;
    keys.sort();
    QCOMPARE(keys,
             QStringList({ "CompanyName", "FileDescription", "FileVersion", "LegalCopyright",
                           "OriginalFilename", "ProductName", "ProductVersion" }));
}

void tst_WinResource::translationIsUsEnglishUnicode()
{
    const VersionNode root = versionInfo();
    const VersionNode *var = root.child("VarFileInfo");
    QVERIFY(var);
    const VersionNode *translation = var->child("Translation");
    QVERIFY(translation);
    Reader in(translation->value);
    QCOMPARE(in.u16(), UsEnglish);
    QCOMPARE(in.u16(), quint16(0x04B0)); // code page 1200, UTF-16
    QCOMPARE(in.pos, translation->value.size());
}

void tst_WinResource::everyResourceIsUsEnglish()
{
    for (const Resource &r : resources)
        QCOMPARE(r.language, UsEnglish);
    QVERIFY(find(RtVersion));
    QVERIFY(find(RtIcon));
}

void tst_WinResource::noManifest()
{
    QVERIFY(!find(RtManifest));
}

QTEST_GUILESS_MAIN(tst_WinResource)
#include "tst_winresource.moc"
