#include "platform/elevation.h"
#include "platform/launcher.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

class tst_Launcher : public QObject
{
    Q_OBJECT

private slots:
    void urlFor_data();
    void urlFor();
    void startsAndMarksDownloaded();
    void startsElevated();
};

void tst_Launcher::urlFor_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("urlPath");
    QTest::addColumn<QByteArray>("encoded");

    // A drive letter stays in the path, where the shell finds it again, not in the scheme.
    QTest::newRow("drive and spaces")
            << "C:/Program Files/Morvane/Morvane.exe"
            << "/C:/Program Files/Morvane/Morvane.exe"
            << QByteArray("file:///C:/Program%20Files/Morvane/Morvane.exe");
    QTest::newRow("non-ASCII") << QString::fromUtf8("C:/Users/J\u00f6rg/Morvane.exe")
                               << QString::fromUtf8("/C:/Users/J\u00f6rg/Morvane.exe")
                               << QByteArray("file:///C:/Users/J%C3%B6rg/Morvane.exe");
    QTest::newRow("hash is part of the path")
            << "C:/Tools/C#/Morvane.exe"
            << "/C:/Tools/C#/Morvane.exe" << QByteArray("file:///C:/Tools/C%23/Morvane.exe");
    QTest::newRow("percent is not an escape")
            << "C:/100%20 sure/Morvane.exe"
            << "/C:/100%20 sure/Morvane.exe"
            << QByteArray("file:///C:/100%2520%20sure/Morvane.exe");
    QTest::newRow("question mark is no query")
            << "/opt/why?/Morvane"
            << "/opt/why?/Morvane" << QByteArray("file:///opt/why%3F/Morvane");
}

void tst_Launcher::urlFor()
{
    QFETCH(QString, path);
    QFETCH(QString, urlPath);
    QFETCH(QByteArray, encoded);

    const QUrl url = Launcher::urlFor(path);
    QVERIFY(url.isValid());
    QVERIFY(url.isLocalFile());
    QCOMPARE(url.scheme(), QStringLiteral("file"));
    QVERIFY(!url.hasFragment());
    QVERIFY(!url.hasQuery());
    QCOMPARE(url.path(), urlPath);
    QCOMPARE(url.toEncoded(), encoded);
}

void tst_Launcher::startsAndMarksDownloaded()
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("Setup 1#.exe"));
    QVERIFY(!Launcher::start(program, Launcher::Origin::Downloaded));

    // As saved from the network: no execute bit.
    QVERIFY(testsupport::writeFile(program, testsupport::marker("started", dir.path()), 0644));
    QVERIFY(Launcher::start(program, Launcher::Origin::Downloaded));
    QTRY_COMPARE(testsupport::readFile(dir.filePath(QStringLiteral("started"))),
                 QByteArray("started\n"));
    QVERIFY(QFileInfo(program).permissions() & QFile::ExeOwner);
}

// Windows: through the shell's "runas", each argument arriving as it was given. Wine asks
// nothing and starts it elevated.
void tst_Launcher::startsElevated()
{
    QTemporaryDir dir;
    const QString program = dir.filePath(testplatform::programFile("Morvane 2"));
    QVERIFY(testsupport::writeFile(program, testsupport::marker("elevated", dir.path()), 0755));
    const QStringList arguments { "1.0.0", "two words", "say \"yes\"", "C:\\end\\", "" };
    QString why;
    const Elevation::Start start = Elevation::startElevated(program, arguments, &why);
    if (QSysInfo::kernelType() != QLatin1String("winnt")) {
        QCOMPARE(start, Elevation::Start::Failed);
        QVERIFY(!why.isEmpty());
        return;
    }
    QCOMPARE(start, Elevation::Start::Started);
    QTRY_COMPARE(testsupport::readFile(dir.filePath(QStringLiteral("started"))),
                 "elevated\n" + arguments.join('\n').toUtf8() + '\n');
}

// The Windows shell is reached through the platform plugin, which needs a GUI application.
QTEST_MAIN(tst_Launcher)
#include "tst_launcher.moc"
