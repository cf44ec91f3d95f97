#include "app/settings.h"
#include "dialog/updaterdialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QTest>
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
    void cancelCloses();
};

namespace {

template<typename T> T *child(const QObject &parent, const char *name)
{
    return parent.findChild<T *>(QLatin1String(name));
}

} // namespace

void tst_UpdaterDialog::init()
{
    currentVersion = QStringLiteral("1.4.2");
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
    auto *log = child<QPlainTextEdit>(dialog, "show");
    QVERIFY(!log->isEnabled());
    QVERIFY(log->toPlainText().isEmpty());
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

QTEST_MAIN(tst_UpdaterDialog)
#include "tst_updaterdialog.moc"
