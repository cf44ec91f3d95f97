#include <QColor>
#include <QProcess>
#include <QTest>

// Runs the real start-up in a child process and reads what it reports of the dialog.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void versionArgument_data();
    void versionArgument();
    void themeAppliedBeforeDialog();
    void missingTheme();

private:
    struct Run
    {
        int exitCode = -1;
        QStringList lines;
        QString value(const QString &key) const
        {
            for (const QString &line : lines) {
                if (line.startsWith(key + QLatin1Char('=')))
                    return line.mid(key.size() + 1);
            }
            return QStringLiteral("<missing>");
        }
    };
    static Run runProbe(const QString &program, const QStringList &arguments);
};

tst_Startup::Run tst_Startup::runProbe(const QString &program, const QStringList &arguments)
{
    QProcess probe;
    probe.setProcessChannelMode(QProcess::SeparateChannels);
    probe.start(program, arguments);
    Run run;
    if (!probe.waitForFinished(60000) || probe.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = probe.exitCode();
    run.lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
    run.lines.removeAll(QString());
    return run;
}

void tst_Startup::versionArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("version");

    QTest::newRow("one") << QStringList { "1.4.2" } << "1.4.2";
    QTest::newRow("several") << QStringList { "1.4.2", "2.0.0", "--extra" } << "1.4.2";
    QTest::newRow("framework option first")
            << QStringList { "-style", "fusion", "2.0.1" } << "2.0.1";
    QTest::newRow("utf-8") << QStringList { QString::fromUtf8("1.0-\xc3\x9f\xe6\x9b\xb4") }
                           << QString::fromUtf8("1.0-\xc3\x9f\xe6\x9b\xb4");
    QTest::newRow("none keeps the default") << QStringList {} << "0.0.0";
}

void tst_Startup::versionArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, version);

    const Run run = runProbe(QStringLiteral(STARTUP_PROBE), arguments);
    QCOMPARE(run.exitCode, 0); // "cancel" ends the event loop normally
    QCOMPARE(run.value(QStringLiteral("visible")), QStringLiteral("1"));
    QCOMPARE(run.value(QStringLiteral("version")), version);
}

void tst_Startup::themeAppliedBeforeDialog()
{
    const Run run = runProbe(QStringLiteral(STARTUP_PROBE), { "1.0.0" });
    QCOMPARE(run.value(QStringLiteral("theme-before-dialog")), QStringLiteral("1"));
    QVERIFY(!run.lines.contains(QStringLiteral("Unable to set stylesheet, file not found")));
    const QColor background(run.value(QStringLiteral("background")));
    QVERIFY2(background.isValid() && background.lightness() < 80,
             qPrintable(run.value(QStringLiteral("background"))));
}

void tst_Startup::missingTheme()
{
    const Run run = runProbe(QStringLiteral(STARTUP_PROBE_NOTHEME), { "1.0.0" });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.count(QStringLiteral("Unable to set stylesheet, file not found")), 1);
    QCOMPARE(run.lines.first(), QStringLiteral("Unable to set stylesheet, file not found"));
    QCOMPARE(run.value(QStringLiteral("theme-before-dialog")), QStringLiteral("0"));
    QCOMPARE(run.value(QStringLiteral("visible")), QStringLiteral("1"));
    QCOMPARE(run.value(QStringLiteral("version")), QStringLiteral("1.0.0"));
    // The platform's own look is light.
    QVERIFY(QColor(run.value(QStringLiteral("background"))).lightness() > 128);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
