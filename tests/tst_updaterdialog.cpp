#include "app/theme.h"
#include "dialog/picturecache.h"
#include "dialog/updaterdialog.h"
#include "download/downloader.h"
#include "download/networklimits.h"
#include "road/settings.h"
#include "httptestserver.h"
#include "testsupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPixmapCache>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpacerItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

class tst_UpdaterDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void afterConstruction();
    void formStructure();
    void iconKeepsItsSize_data();
    void iconKeepsItsSize();
    void pictureCacheKeyIsQPixmapLoads();
    void cancelCloses();
    void keyboardAndScreenReaders();

    // The check against a manifest served on 127.0.0.1.
    void checkChoosesPackage_data();
    void checkChoosesPackage();
    void messages();
    void logCanBeRead();
    void failedCheckKeepsState_data();
    void failedCheckKeepsState();
    void lastReplyWins();

    // The progress display, fed by the download engine's reports.
    void progressPercentAndSize_data();
    void progressPercentAndSize();
    void unknownTotalShowsBusyIndicator();
    void speedAndRemaining();
    void secondPressKeepsClock();

private:
    HttpTestServer server;
};

namespace {

template<typename T> T *child(const QObject &parent, const char *name)
{
    return parent.findChild<T *>(QLatin1String(name));
}

// A manifest whose packages lie on server.
QByteArray manifest(const HttpTestServer &server, const QString &latest,
                    const QString &changelog = QStringLiteral("fixes"))
{
    const QJsonObject entry { { "latest-version", latest },
                              { "download-url", server.url(QStringLiteral("/inc.zip")).toString() },
                              { "full-url", server.url(QStringLiteral("/full.exe")).toString() },
                              { "modify-time", "2024-03-01" },
                              { "changelog", changelog } };
    return testsupport::manifest(entry);
}

HttpTestServer::Response json(const QByteArray &body)
{
    HttpTestServer::Response response;
    response.headers = { { "Content-Type", "application/json" } };
    response.body = body;
    return response;
}

// Presses "check" with version in the field and waits for the outcome in the log.
QString check(UpdaterDialog &dialog, const QString &version)
{
    auto *log = child<QPlainTextEdit>(dialog, "show");
    log->clear();
    child<QLineEdit>(dialog, "versionInput")->setText(version);
    QTest::mouseClick(child<QPushButton>(dialog, "btn_check"), Qt::LeftButton);
    if (!QTest::qWaitFor([log] { return !log->toPlainText().isEmpty(); }, 10000))
        return QStringLiteral("<no answer>");
    return log->toPlainText();
}

// Starts an update as the update button would, and hands back the dialog's download engine.
Downloader *pressUpdate(UpdaterDialog &dialog)
{
    QMetaObject::invokeMethod(&dialog, "on_btn_update_clicked");
    return dialog.findChild<Downloader *>();
}

} // namespace

void tst_UpdaterDialog::init()
{
    currentVersion = QStringLiteral("1.4.2");
    manifestUrl = server.url(QStringLiteral("/updates.json")).toString();
    NetworkLimits::checkDeadlineMs = 60 * 1000;
    // A package cut short ends the press at once; the retries are the downloader's to test.
    NetworkLimits::retryCount = 0;
}

void tst_UpdaterDialog::afterConstruction()
{
    UpdaterDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("UpdaterDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Updater"));
    QCOMPARE(dialog.size(), QSize(393, 470));
    QCOMPARE(child<QLineEdit>(dialog, "versionInput")->text(), QStringLiteral("1.4.2"));
    QVERIFY(!child<QPushButton>(dialog, "btn_update")->isEnabled());
    QVERIFY(child<QPushButton>(dialog, "btn_check")->isEnabled());
    QVERIFY(child<QPushButton>(dialog, "btn_cancel")->isEnabled());
    QVERIFY(child<QPlainTextEdit>(dialog, "show")->toPlainText().isEmpty());
    QCOMPARE(child<QLabel>(dialog, "label_2")->text(), QString());
    QCOMPARE(child<QLabel>(dialog, "label_3")->text(), QString());
    QCOMPARE(child<QProgressBar>(dialog, "progressBar")->value(), 0);
    QCOMPARE(child<QLabel>(dialog, "label")->text(), QStringLiteral("Version:"));
    QCOMPARE(child<QPushButton>(dialog, "btn_check")->text(), QStringLiteral("check"));
    QCOMPARE(child<QPushButton>(dialog, "btn_cancel")->text(), QStringLiteral("cancel"));
    QCOMPARE(child<QPushButton>(dialog, "btn_update")->text(), QStringLiteral("update"));
}

void tst_UpdaterDialog::formStructure()
{
    UpdaterDialog dialog;

    // Widgets are the dialog's children in the order the form builds them.
    QStringList widgets;
    for (QObject *object : dialog.children()) {
        if (object->isWidgetType())
            widgets << QString::fromLatin1(object->metaObject()->className()) + QLatin1Char(' ')
                            + object->objectName();
    }
    QCOMPARE(widgets,
             QStringList({ "QLabel labelIcon", "QLabel label", "QLineEdit versionInput",
                           "QPushButton btn_check", "QPlainTextEdit show", "QLabel label_2",
                           "QProgressBar progressBar", "QLabel label_3", "QPushButton btn_cancel",
                           "QPushButton btn_update" }));

    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(grid->rowCount(), 7);
    QCOMPARE(grid->columnCount(), 1);
    const QStringList rows {
        "horizontalLayout_3", "horizontalLayout_2", "show", "label_2", "progressBar", "label_3",
        "horizontalLayout"
    };
    for (int row = 0; row < rows.size(); ++row) {
        QLayoutItem *item = grid->itemAtPosition(row, 0);
        QObject *object = item->layout() ? static_cast<QObject *>(item->layout()) : item->widget();
        QCOMPARE(object->objectName(), rows.at(row));
    }

    // Icon row: Preferred spacers around the picture; button row: an Expanding spacer first.
    auto *iconRow = child<QHBoxLayout>(dialog, "horizontalLayout_3");
    QCOMPARE(iconRow->count(), 3);
    for (int index : { 0, 2 }) {
        QSpacerItem *spacer = iconRow->itemAt(index)->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), QSize(40, 20));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    }
    QCOMPARE(iconRow->itemAt(1)->widget()->objectName(), QStringLiteral("labelIcon"));
    auto *buttonRow = child<QHBoxLayout>(dialog, "horizontalLayout");
    QCOMPARE(buttonRow->count(), 3);
    QCOMPARE(buttonRow->itemAt(0)->spacerItem()->sizePolicy().horizontalPolicy(),
             QSizePolicy::Expanding);
    QCOMPARE(buttonRow->itemAt(1)->widget()->objectName(), QStringLiteral("btn_cancel"));
    QCOMPARE(buttonRow->itemAt(2)->widget()->objectName(), QStringLiteral("btn_update"));

    auto *icon = child<QLabel>(dialog, "labelIcon");
    QCOMPARE(icon->styleSheet(), QStringLiteral("border-image: url(:/140xfd.png);"));
    QCOMPARE(icon->font().pointSize(), 14);
    QCOMPARE(icon->alignment(), Qt::AlignCenter);
    QCOMPARE(icon->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(icon->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    for (const char *name : { "btn_check", "btn_cancel", "btn_update" }) {
        const QSizePolicy policy = child<QPushButton>(dialog, name)->sizePolicy();
        QCOMPARE(policy.horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(policy.verticalPolicy(), QSizePolicy::Fixed);
    }
}

void tst_UpdaterDialog::iconKeepsItsSize_data()
{
    QTest::addColumn<QSize>("windowSize");
    QTest::newRow("small") << QSize(120, 100);
    QTest::newRow("default") << QSize(393, 470);
    QTest::newRow("large") << QSize(1400, 1000);
}

void tst_UpdaterDialog::iconKeepsItsSize()
{
    QFETCH(QSize, windowSize);
    UpdaterDialog dialog;
    dialog.resize(windowSize);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(child<QLabel>(dialog, "labelIcon")->size(), QSize(200, 150));
}

// The label's style sheet finds the picture decoded ahead only under the key QPixmap::load uses.
void tst_UpdaterDialog::pictureCacheKeyIsQPixmapLoads()
{
    QPixmapCache::clear();
    const QPixmap loaded(PictureCache::fileName);
    QPixmap found;
    QVERIFY(QPixmapCache::find(PictureCache::cacheKey(PictureCache::fileName), &found));
    QCOMPARE(found.cacheKey(), loaded.cacheKey());
}

// Tab walks the controls in reading order, each showing that it has the focus and heard by its
// name; the field also by its label.
void tst_UpdaterDialog::keyboardAndScreenReaders()
{
    loadStyleSheet();
    server.respond(QStringLiteral("/updates.json"),
                   json(manifest(server, QStringLiteral("1.3.0"))));
    UpdaterDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    check(dialog, QStringLiteral("1.2.3"));
    const auto labelled = QAccessible::queryAccessibleInterface(child<QLabel>(dialog, "label"))
                                  ->relations(QAccessible::Labelled);
    QCOMPARE(labelled.value(0).first->object(), child<QLineEdit>(dialog, "versionInput"));
    QStringList heard;
    child<QLineEdit>(dialog, "versionInput")->setFocus();
    for (QWidget *focused; heard.size() < 6; QTest::keyClick(focused, Qt::Key_Tab)) {
        focused = QApplication::focusWidget();
        heard << QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name);
        const QImage withFocus = focused->grab().toImage();
        focused->clearFocus();
        QVERIFY2(focused->grab().toImage() != withFocus, qPrintable(heard.last()));
        focused->setFocus();
    }
    qApp->setStyleSheet(QString());
    QCOMPARE(heard.join(", "),
             QStringLiteral("Installed version, Check for updates, Messages, Update, Cancel, "
                            "Installed version"));
}

void tst_UpdaterDialog::cancelCloses()
{
    UpdaterDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // As the only window, closing it ends the event loop, and normally so.
    QTimer::singleShot(0, &dialog, [&dialog] {
        QTest::mouseClick(child<QPushButton>(dialog, "btn_cancel"), Qt::LeftButton);
    });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!dialog.isVisible());
}

// The version rule itself has its own table; these rows show it wired to the check and the
// choice of package.
void tst_UpdaterDialog::checkChoosesPackage_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("needFull");

    QTest::newRow("empty field: full package") << ""
                                               << "1.0.0" << true << true;
    QTest::newRow("incremental") << "1.2.3"
                                 << "1.2.10" << true << false;
    QTest::newRow("up to date") << "1.2.3"
                                << "1.2.3" << false << false;
}

void tst_UpdaterDialog::checkChoosesPackage()
{
    QFETCH(QString, local);
    QFETCH(QString, latest);
    QFETCH(bool, offered);
    QFETCH(bool, needFull);

    server.respond(QStringLiteral("/updates.json"), json(manifest(server, latest)));
    UpdaterDialog dialog;
    const QString text = check(dialog, local);
    QCOMPARE(text.startsWith(QLatin1String("current version is : v")), offered);
    QCOMPARE(child<QPushButton>(dialog, "btn_update")->isEnabled(), offered);

    // needFull shows in what the update asks the server for.
    const int before = server.requests().size();
    Downloader *downloader = pressUpdate(dialog);
    QTRY_COMPARE(server.requests().size(), before + 1);
    QCOMPARE(server.requests().last(),
             needFull ? QStringLiteral("/full.exe") : QStringLiteral("/inc.zip"));
    QCOMPARE(child<QPlainTextEdit>(dialog, "show")
                     ->toPlainText()
                     .contains(QLatin1String("\nneed full")),
             needFull);
    QTRY_VERIFY(!downloader->succeeded()
                && child<QPlainTextEdit>(dialog, "show")
                           ->toPlainText()
                           .contains(QLatin1String("\ndownload failed\n")));
}

void tst_UpdaterDialog::messages()
{
    server.respond(QStringLiteral("/updates.json"),
                   json(manifest(server, QStringLiteral("1.3.0"), QStringLiteral("new charts"))));
    UpdaterDialog dialog;
    QCOMPARE(check(dialog, QStringLiteral("1.2.3")),
             QStringLiteral("current version is : v1.2.3\nlatest version : v1.3.0\nmodify time : "
                            "2024-03-01\n"
                            "changelog: new charts\nclick update button to update"));
    QCOMPARE(check(dialog, QStringLiteral("1.3.0")),
             QStringLiteral("current software is up-to-date\nversion: v1.3.0\nclick cancel button "
                            "to quit"));
    QVERIFY(!child<QPushButton>(dialog, "btn_update")->isEnabled());
    // An empty field is compared as 0.0, and said so; the field itself stays empty.
    QVERIFY(check(dialog, QString()).startsWith(QLatin1String("current version is : v0.0\n")));
    QCOMPARE(child<QLineEdit>(dialog, "versionInput")->text(), QString());

    // No release for this platform is not "up to date": it says what is missing; update goes off.
    const QList<QPair<QByteArray, QString>> mistakes {
        { R"({"updates": {"Windows": {"latest-version": "9.0.0"}}})", "no release for windows" },
        { R"({"updates": {"windows": {"download-url": "http://x/p.zip"}}})",
          "no release for windows" },
        { manifest(server, QStringLiteral("2.0-beta")), "an unusable version: 2.0-beta" },
    };
    for (const auto &mistake : mistakes) {
        server.respond(QStringLiteral("/updates.json"), json(manifest(server, "1.3.0")));
        check(dialog, QStringLiteral("1.2.3"));
        server.respond(QStringLiteral("/updates.json"), json(mistake.first));
        QCOMPARE(check(dialog, QStringLiteral("1.2.3")),
                 "the update information has " + mistake.second);
        QVERIFY(!child<QPushButton>(dialog, "btn_update")->isEnabled());
    }
}

void tst_UpdaterDialog::logCanBeRead()
{
    QStringList changes;
    for (int line = 1; line <= 400; ++line)
        changes << QString::number(line);
    server.respond(QStringLiteral("/updates.json"),
                   json(manifest(server, QStringLiteral("1.3.0"), changes.join('\n'))));
    UpdaterDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    const QString text = check(dialog, QStringLiteral("1.2.3"));
    auto *log = child<QPlainTextEdit>(dialog, "show");
    const auto shown = [log](int y) { return log->cursorForPosition(QPoint(2, y)).block().text(); };
    // It follows the newest line; typing changes nothing (the copy below shows it).
    QCOMPARE(shown(log->viewport()->height() - 4), QStringLiteral("click update button to update"));
    log->setFocus();
    QTest::keyClicks(log, QStringLiteral("typed"));
    // Scrolled back to the first line, a new line does not pull the view away; all is copied.
    QTest::keyClick(log, Qt::Key_Home);
    emit dialog.updateRun()->line({ UpdateRun::Line::Kind::Note, "download failed" });
    QCOMPARE(shown(2), QStringLiteral("current version is : v1.2.3"));
    QTest::keySequence(log, QKeySequence::SelectAll);
    QTest::keySequence(log, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), text + QStringLiteral("\ndownload failed"));
}

// Each failure's line, then why (HOST: the manifest's host and port).
void tst_UpdaterDialog::failedCheckKeepsState_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");

    const QString missing = "check error\nthe server answered 404 Not Found";
    QTest::newRow("404") << "/missing.json" << 404 << QByteArray("{}") << missing;
    QTest::newRow("refused") << "refused" << 0 << QByteArray()
                             << "check error\ncannot reach HOST: connection refused";
    QTest::newRow("unknown host") << "unknown host" << 0 << QByteArray()
                                  << "check error\ncannot reach HOST: host not found";
    // A manifest that Qt would read from the disk is never asked for.
    QTest::newRow("file address") << "file" << 0 << QByteArray()
                                  << "check error\nthe address is not an http or https address";
    QTest::newRow("empty body") << "/empty.json" << 200 << QByteArray()
                                << "reply doc is null\nthe server sent an empty answer instead of "
                                   "the update information";
    QTest::newRow("not json") << "/html.json" << 200 << QByteArray("{\n  \"a\": <html>\n}")
                              << "reply doc is null\nthe update information is not valid JSON "
                                 "(line 2, column 8)";
    QTest::newRow("slower than the deadline") << "/slow.json" << 200 << QByteArray(4096, ' ')
                                              << "check error\nno answer from HOST within 1 s";
    // Signed: the manifest itself is served, its signature is not, or not the publisher's.
    QTest::newRow("signature missing") << "/updates.json" << 0 << QByteArray()
                                       << "manifest signature invalid\nno signature "
                                          "was published beside the update "
                                          "information (404)";
    QTest::newRow("signed with another key")
            << "/updates.json" << 0 << QByteArray("other")
            << "manifest signature invalid\nthe update information was signed with a key this "
               "updater does not trust";
}

void tst_UpdaterDialog::failedCheckKeepsState()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);

    const QByteArray served = manifest(server, QStringLiteral("1.3.0"));
    server.respond(QStringLiteral("/updates.json"), json(served));
    // Signed rows: the first check's signature is good, the second's as the row says.
    const bool isSigned = status == 0 && path.startsWith(QLatin1Char('/'));
    const QString signature = QStringLiteral("/updates.json.minisig");
    if (isSigned) {
        publicKey = testsupport::fixtureKey(QStringLiteral("publisher"));
        server.respond(signature,
                       json(testsupport::minisignSignature("publisher", served, "updates.json")));
    }
    UpdaterDialog dialog;
    publicKey.clear();
    check(dialog, QStringLiteral("0.0"));
    QVERIFY(child<QPushButton>(dialog, "btn_update")->isEnabled());

    QTemporaryDir folder;
    if (isSigned) {
        HttpTestServer::Response other = json(
                testsupport::minisignSignature(QString::fromLatin1(body), served, "updates.json"));
        other.status = body.isEmpty() ? 404 : 200;
        server.respond(signature, other);
    } else if (path == QLatin1String("unknown host")) {
        manifestUrl = QStringLiteral("http://updates.invalid:1995/updates.json");
    } else if (path == QLatin1String("refused")) {
        // A port that was free a moment ago refuses the connection.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        manifestUrl = QStringLiteral("http://127.0.0.1:%1/updates.json").arg(closed.serverPort());
    } else if (path == QLatin1String("file")) {
        QFile local(folder.filePath(QStringLiteral("updates.json")));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write(manifest(server, QStringLiteral("1.3.0")));
        local.close();
        manifestUrl = QUrl::fromLocalFile(local.fileName()).toString();
    } else {
        HttpTestServer::Response response = json(body);
        response.status = status;
        // Bytes keep coming, well above the drip floor, past the check's deadline.
        if (path == QLatin1String("/slow.json")) {
            response.pieceSize = 8;
            response.pauseMs = 20;
            NetworkLimits::checkDeadlineMs = 1000;
        }
        server.respond(path, response);
        manifestUrl = server.url(path).toString();
    }
    const QUrl asked(manifestUrl);
    message.replace("HOST", asked.host() + ':' + QString::number(asked.port()));
    QCOMPARE(check(dialog, QStringLiteral("1.3.0")), message);
    QVERIFY(child<QPushButton>(dialog, "btn_update")->isEnabled());

    // The earlier values stay: the update still asks for the full package of the last manifest.
    const int before = server.requests().size();
    pressUpdate(dialog);
    QTRY_COMPARE(server.requests().size(), before + 1);
    QCOMPARE(server.requests().last(), isSigned ? "/full.exe.minisig" : "/full.exe");
}

void tst_UpdaterDialog::lastReplyWins()
{
    HttpTestServer::Response slow = json(manifest(server, QStringLiteral("9.0.0")));
    slow.pieceSize = 8;
    slow.pauseMs = 20;
    server.respond(QStringLiteral("/slow.json"), slow);
    server.respond(QStringLiteral("/updates.json"),
                   json(manifest(server, QStringLiteral("1.2.3"))));

    UpdaterDialog dialog;
    auto *log = child<QPlainTextEdit>(dialog, "show");
    child<QLineEdit>(dialog, "versionInput")->setText(QStringLiteral("1.2.3"));
    manifestUrl = server.url(QStringLiteral("/slow.json")).toString();
    QTest::mouseClick(child<QPushButton>(dialog, "btn_check"), Qt::LeftButton);
    manifestUrl = server.url(QStringLiteral("/updates.json")).toString();
    QTest::mouseClick(child<QPushButton>(dialog, "btn_check"), Qt::LeftButton);

    QTRY_VERIFY(log->toPlainText().startsWith(QLatin1String("current software is up-to-date")));
    QTRY_VERIFY_WITH_TIMEOUT(
            log->toPlainText().startsWith(QLatin1String("current version is : v1.2.3")), 10000);
    QVERIFY(child<QPushButton>(dialog, "btn_update")->isEnabled());
}

void tst_UpdaterDialog::progressPercentAndSize_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("sizeLine");

    const qint64 mib = 1048576;
    QTest::newRow("bytes") << qint64(512) << qint64(800) << 100 << 64
                           << "Downloading updates (512 bytes of 800 bytes)";
    QTest::newRow("MB") << mib * 3 / 2 << 12 * mib << 100 << 12
                        << "Downloading updates (1.5 MB of 12 MB)";
    QTest::newRow("complete") << 10 * mib + 1 << 10 * mib + 1 << 100 << 100
                              << "Downloading updates (10 MB of 10 MB)";
    // A body of unknown size: a busy bar and the received size alone.
    QTest::newRow("size not announced")
            << qint64(2048) << qint64(-1) << 0 << -1 << "Downloading updates (2 KB)";
}

void tst_UpdaterDialog::progressPercentAndSize()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, maximum);
    QFETCH(int, percent);
    QFETCH(QString, sizeLine);

    UpdaterDialog dialog;
    Downloader *downloader = pressUpdate(dialog);
    QVERIFY(downloader);
    emit downloader->doProgress(received, total);
    QCOMPARE(child<QProgressBar>(dialog, "progressBar")->maximum(), maximum);
    QCOMPARE(child<QProgressBar>(dialog, "progressBar")->value(), percent);
    QCOMPARE(child<QLabel>(dialog, "label_2")->text(), sizeLine);
}

void tst_UpdaterDialog::unknownTotalShowsBusyIndicator()
{
    UpdaterDialog dialog;
    Downloader *downloader = pressUpdate(dialog);
    emit downloader->doProgress(100, 200);
    const QString sizeLine = child<QLabel>(dialog, "label_2")->text();
    emit downloader->doProgress(0, 0);
    emit downloader->doProgress(0, 0);

    auto *bar = child<QProgressBar>(dialog, "progressBar");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 0);
    // One log line for each such report (the press itself logs that no address is known).
    QVERIFY(child<QPlainTextEdit>(dialog, "show")
                    ->toPlainText()
                    .endsWith(QStringLiteral(
                            "download failed\nthe update information names no package for this "
                            "update\nDownloading Updates...\nDownloading Updates...")));
    QCOMPARE(child<QLabel>(dialog, "label_2")->text(), sizeLine);
}

void tst_UpdaterDialog::speedAndRemaining()
{
    UpdaterDialog dialog;
    Downloader *downloader = pressUpdate(dialog);
    auto *speedLine = child<QLabel>(dialog, "label_3");
    const qint64 mib = 1048576;

    // Within the first second there is too little to average over.
    emit downloader->doProgress(0, 3 * mib);
    QVERIFY(!child<QLabel>(dialog, "label_2")->text().isEmpty());
    QCOMPARE(speedLine->text(), QString());

    // 1 MiB in t > 1.1 s leaves 2 MiB: 2t seconds at the average rate.
    QTest::qWait(1100);
    emit downloader->doProgress(mib, 3 * mib);
    const QRegularExpression pattern(
            QStringLiteral("^speed: (\\S+) kb/s  Time remaining: (\\d+) seconds$"));
    const QRegularExpressionMatch match = pattern.match(speedLine->text());
    QVERIFY2(match.hasMatch(), qPrintable(speedLine->text()));
    QVERIFY(match.captured(1).toDouble() > 0);
    QVERIFY(match.captured(2).toInt() >= 2 && match.captured(2).toInt() <= 6);

    // Unknown size: the speed alone, no time remaining.
    QTest::qWait(20);
    emit downloader->doProgress(2 * mib, -1);
    QVERIFY2(speedLine->text().startsWith(QLatin1String("speed: "))
                     && !speedLine->text().contains(QLatin1String("remaining")),
             qPrintable(speedLine->text()));
}

void tst_UpdaterDialog::secondPressKeepsClock()
{
    // A body of 2 s that ends short, so the dialog reports a failure and asks nothing.
    HttpTestServer::Response slow;
    slow.generatedSize = 4000;
    slow.pieceSize = 100;
    slow.pauseMs = 50;
    slow.stopAfter = 3900;
    server.respond(QStringLiteral("/inc.zip"), slow);
    server.respond(QStringLiteral("/updates.json"),
                   json(manifest(server, QStringLiteral("1.3.0"))));

    UpdaterDialog dialog;
    QTemporaryDir target;
    // Without an address the first press only makes the engine, which then writes elsewhere.
    Downloader *downloader = pressUpdate(dialog);
    downloader->setTargetDirectory(target.path());
    check(dialog, QStringLiteral("1.2.3"));

    const int before = server.requests().count(QStringLiteral("/inc.zip"));
    auto *update = child<QPushButton>(dialog, "btn_update");
    pressUpdate(dialog);
    // A press during the download would change nothing, and update looks it, also after a check.
    QVERIFY(!update->isEnabled());
    QTest::qWait(1000);
    QSignalSpy checked(dialog.updateRun(), &UpdateRun::checked);
    QTest::mouseClick(child<QPushButton>(dialog, "btn_check"), Qt::LeftButton);
    QVERIFY(checked.wait(5000));
    QVERIFY(!update->isEnabled());
    pressUpdate(dialog);
    auto *log = child<QPlainTextEdit>(dialog, "show");
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains(QLatin1String("\ndownload failed\n")),
                             20000);
    QCOMPARE(server.requests().count(QStringLiteral("/inc.zip")), before + 1);
    QVERIFY(update->isEnabled());

    const QRegularExpression pattern(
            QStringLiteral("^total time: ([0-9.]+)s    average speed: ([0-9.]+)kb/s$"));
    const QRegularExpressionMatch match = pattern.match(child<QLabel>(dialog, "label_3")->text());
    QVERIFY2(match.hasMatch(), qPrintable(child<QLabel>(dialog, "label_3")->text()));
    // Measured from the first press: about 2 s, not the 1 s since the second.
    QVERIFY2(match.captured(1).toDouble() >= 1.8, qPrintable(match.captured(1)));
}

QTEST_MAIN(tst_UpdaterDialog)
#include "tst_updaterdialog.moc"
