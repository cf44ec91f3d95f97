#include "platform/fileidentity.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class tst_FileIdentity : public QObject
{
    Q_OBJECT

private slots:
    void afterChange_data();
    void afterChange();
    void invalidWithoutAFile();
};

using Change = std::function<bool(const QString &path)>;
Q_DECLARE_METATYPE(Change)

void tst_FileIdentity::afterChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("same");

    QTest::newRow("untouched") << Change([](const QString &) { return true; }) << true;
    QTest::newRow("renamed and back") << Change([](const QString &path) {
        return QFile::rename(path, path + ".moved") && QFile::rename(path + ".moved", path);
    }) << true;
    QTest::newRow("replaced by an equal copy") << Change([](const QString &path) {
        return QFile::copy(path, path + ".copy") && QFile::remove(path)
                && QFile::rename(path + ".copy", path);
    }) << false;
    QTest::newRow("grown in place") << Change([](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::Append) && file.write("!") == 1;
    }) << false;
    QTest::newRow("same size, other time") << Change([](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                    QFileDevice::FileModificationTime);
    }) << false;
}

void tst_FileIdentity::afterChange()
{
    QFETCH(Change, change);
    QFETCH(bool, same);
    QTemporaryDir dir;
    const QString path = dir.filePath("pkg.zip");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write("package bytes"), qint64(13));
    QVERIFY(file.flush());
    const FileIdentity written = FileIdentity::of(file);
    file.close();
    QVERIFY(written.isValid());
    QCOMPARE(written.size(), qint64(13));
    // The handle and the name agree while nothing happens in between.
    QCOMPARE(FileIdentity::of(path), written);

    QVERIFY(change(path));
    QCOMPARE(FileIdentity::of(path) == written, same);
    // Only a new time leaves the file itself the same one.
    QCOMPARE(FileIdentity::of(path).isSameFile(written),
             same || QByteArray(QTest::currentDataTag()) == "same size, other time");
}

void tst_FileIdentity::invalidWithoutAFile()
{
    QTemporaryDir dir;
    QFile closed(dir.filePath("never-opened"));
    QVERIFY(!FileIdentity::of(closed).isValid());
    QVERIFY(!FileIdentity::of(dir.filePath("missing")).isValid());
    QVERIFY(!FileIdentity::of(QString()).isValid());
    // Two invalid identities are not "the same file".
    QVERIFY(FileIdentity() != FileIdentity());
}

QTEST_GUILESS_MAIN(tst_FileIdentity)
#include "tst_fileidentity.moc"
