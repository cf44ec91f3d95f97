// The two compiled-in resource collections: the dark theme with its icons, and the picture
// with the program icon. Linking their object libraries registers them before main.
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QResource>
#include <QtEndian>
#include <QtTest>

namespace {

const QString StyleSheet = QStringLiteral(":/qdarkstyle/dark/darkstyle.qss");
const QString IconDir = QStringLiteral(":/qss_icons/dark/rc/");

QByteArray readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return file.readAll();
}

// The chunk types of a PNG file in order, with the IHDR bytes.
QByteArrayList pngChunkTypes(const QByteArray &png, QByteArray *header)
{
    QByteArrayList types;
    int pos = 8;
    while (pos + 8 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + pos);
        const QByteArray type = png.mid(pos + 4, 4);
        if (type == "IHDR")
            *header = png.mid(pos + 8, int(length));
        types << type;
        pos += 12 + int(length);
    }
    return types;
}

} // namespace

class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void styleSheetPathWithoutSlashIsTheSameEntry();
    void styleSheetReadsAsText_data();
    void styleSheetReadsAsText();
    void everyStyleSheetUrlNamesAnEntry();
    void iconSet_data();
    void iconSet();
    void picture();
    void pictureIs16BitRgbaWithGamma();
    void programIcon();
    void onlyTheStyleSheetIsCompressed();
};

void tst_Resources::styleSheetPathWithoutSlashIsTheSameEntry()
{
    const QResource relative(":qdarkstyle/dark/darkstyle.qss");
    const QResource absolute(StyleSheet);
    QVERIFY(absolute.isValid());
    QVERIFY(relative.isValid());
    QCOMPARE(relative.absoluteFilePath(), absolute.absoluteFilePath());
    QCOMPARE(relative.data(), absolute.data());
}

void tst_Resources::styleSheetReadsAsText_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("as start-up names it") << ":qdarkstyle/dark/darkstyle.qss";
    QTest::newRow("absolute") << StyleSheet;
}

void tst_Resources::styleSheetReadsAsText()
{
    QFETCH(QString, path);
    const QByteArray text = readText(path);
    QVERIFY(!text.isEmpty());
    QVERIFY(!text.contains('\r'));
    QVERIFY(text.contains("QWidget"));
}

void tst_Resources::everyStyleSheetUrlNamesAnEntry()
{
    const QString text = QString::fromUtf8(readText(StyleSheet));
    const QRegularExpression url(R"re(url\(\s*"?([^")\s]*)"?\s*\))re");
    QSet<QString> names;
    for (auto it = url.globalMatch(text); it.hasNext();)
        names.insert(it.next().captured(1));
    QVERIFY(!names.isEmpty());
    QStringList missing;
    for (const QString &name : qAsConst(names)) {
        QVERIFY2(name.startsWith(IconDir), qPrintable(name));
        if (!QFile::exists(name))
            missing << name;
    }
    QVERIFY2(missing.isEmpty(), qPrintable("missing: " + missing.join(", ")));
}

void tst_Resources::iconSet_data()
{
    QTest::addColumn<QString>("base");
    for (const char *base : { "arrow_down",
                              "arrow_left",
                              "arrow_right",
                              "arrow_up",
                              "base_icon",
                              "branch_closed",
                              "branch_end",
                              "branch_line",
                              "branch_more",
                              "branch_open",
                              "checkbox_checked",
                              "checkbox_indeterminate",
                              "checkbox_unchecked",
                              "line_horizontal",
                              "line_vertical",
                              "radio_checked",
                              "radio_unchecked",
                              "toolbar_move_horizontal",
                              "toolbar_move_vertical",
                              "toolbar_separator_horizontal",
                              "toolbar_separator_vertical",
                              "transparent",
                              "window_close",
                              "window_grip",
                              "window_minimize",
                              "window_undock" })
        QTest::newRow(base) << QString::fromLatin1(base);
}

void tst_Resources::iconSet()
{
    QFETCH(QString, base);
    for (const char *state : { "", "_disabled", "_focus", "_pressed" }) {
        for (const char *scale : { "", "@2x" }) {
            const QString path = IconDir + base + state + scale + ".png";
            QVERIFY2(QFile::exists(path), qPrintable(path));
            QVERIFY2(!QImage(path).isNull(), qPrintable(path + " does not decode"));
        }
    }
}

void tst_Resources::picture()
{
    const QImage image(":/140xfd.png");
    QCOMPARE(image.size(), QSize(1280, 960));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(image.depth(), 64); // 16 bits for each of R, G, B and A
}

void tst_Resources::pictureIs16BitRgbaWithGamma()
{
    QFile file(":/140xfd.png");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray header;
    const QByteArrayList types = pngChunkTypes(file.readAll(), &header);
    QCOMPARE(header.size(), 13);
    QCOMPARE(int(header.at(8)), 16); // bit depth
    QCOMPARE(int(header.at(9)), 6); // colour type: RGBA
    // The gamma chunk only counts before the image data.
    QVERIFY(types.contains("gAMA"));
    QVERIFY(types.indexOf("gAMA") < types.indexOf("IDAT"));
}

void tst_Resources::programIcon()
{
    const QImage icon(":/140xfd.ico");
    QCOMPARE(icon.size(), QSize(256, 256));
    QVERIFY(icon.hasAlphaChannel());
}

void tst_Resources::onlyTheStyleSheetIsCompressed()
{
    // Our entries: the two trees of the theme and the files at the root. The framework
    // registers collections of its own under other folders.
    QStringList paths = QDir(":/").entryList(QDir::Files);
    for (QString &name : paths)
        name.prepend(":/");
    for (const char *tree : { ":/qdarkstyle", ":/qss_icons" }) {
        QDirIterator it(tree, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << it.next();
    }
    int entries = 0;
    for (const QString &path : qAsConst(paths)) {
        const QResource entry(path);
        ++entries;
        QVERIFY2(entry.lastModified().isValid(), qPrintable(path + " has no modification time"));
        const auto expected
                = path == StyleSheet ? QResource::ZlibCompression : QResource::NoCompression;
        QVERIFY2(entry.compressionAlgorithm() == expected, qPrintable(path));
    }
    // The stylesheet, the 208 icons, the picture and the program icon at the least.
    QVERIFY(entries >= 1 + 26 * 8 + 2);
}

QTEST_GUILESS_MAIN(tst_Resources)
#include "tst_resources.moc"
