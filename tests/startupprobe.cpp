// The real start-up, observed from inside: reports what the user would see of the dialog and
// whether the theme was in force before the dialog was built, then presses "cancel". With
// PROBE_MANIFEST_URL set it first presses "check" against that address, then "update". Either
// way it reports the log, in the language the start-up chose.
#include "app/startup.h"
#include "dialog/updaterdialog.h"
#include "download/networklimits.h"
#include "road/settings.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QLineEdit>
#include <QNetworkProxyFactory>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

class FirstDialogEvent : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        Q_UNUSED(event)
        // The first event a dialog receives arrives while its constructor builds the form.
        if (!seen && qobject_cast<UpdaterDialog *>(watched)) {
            seen = true;
            std::printf("theme-before-dialog=%d\n", !qApp->styleSheet().isEmpty());
        }
        return false;
    }
    bool seen = false;
};

// Check, then update; the package is expected to fail, so that no question is asked.
void checkAndUpdate(UpdaterDialog *dialog)
{
    manifestUrl = qEnvironmentVariable("PROBE_MANIFEST_URL");
    std::printf("system-proxy=%d\n", QNetworkProxyFactory::usesSystemConfiguration());
    auto *log = dialog->findChild<QPlainTextEdit *>(QStringLiteral("show"));
    dialog->findChild<QPushButton *>(QStringLiteral("btn_check"))->click();
    const bool answered = QTest::qWaitFor([log] { return !log->toPlainText().isEmpty(); }, 30000);
    std::printf("check-answered=%d\n", answered);
    auto *update = dialog->findChild<QPushButton *>(QStringLiteral("btn_update"));
    if (!update->isEnabled())
        return;
    QSignalSpy finished(dialog->updateRun(), &UpdateRun::finished);
    update->click();
    std::printf("update-ended=%d\n", finished.wait(30000));
}

void reportAndCancel()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<UpdaterDialog *>(window);
        if (!dialog)
            continue;
        std::printf("visible=%d\n", dialog->isVisible());
        std::printf("version=%s\n",
                    dialog->findChild<QLineEdit *>(QStringLiteral("versionInput"))
                            ->text()
                            .toUtf8()
                            .constData());
        const QImage image = dialog->grab().toImage();
        std::printf("background=%s\n", qPrintable(image.pixelColor(2, image.height() / 2).name()));
        std::printf("button=%s\n",
                    dialog->findChild<QPushButton *>(QStringLiteral("btn_update"))
                            ->text()
                            .toUtf8()
                            .constData());
        // What the question box's Yes button says: Qt's own catalogue.
        std::printf("yes=%s\n",
                    QCoreApplication::translate("QPlatformTheme", "&Yes").toUtf8().constData());
        if (qEnvironmentVariableIsSet("PROBE_MANIFEST_URL"))
            checkAndUpdate(dialog);
        const QString log
                = dialog->findChild<QPlainTextEdit *>(QStringLiteral("show"))->toPlainText();
        for (const QString &line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            std::printf("log=%s\n", line.toUtf8().constData());
        std::fflush(stdout);
        dialog->findChild<QPushButton *>(QStringLiteral("btn_cancel"))->click();
    }
}

void observeStartup()
{
    qApp->installEventFilter(new FirstDialogEvent(qApp));
    // Queued: runs once the event loop has started, with the dialog shown.
    QTimer::singleShot(0, qApp, reportAndCancel);
}

} // namespace

int main(int argc, char *argv[])
{
    // The runs cut their package short to end in a failure: at once, not after the retries.
    NetworkLimits::retryCount = 0;
    qAddPreRoutine(observeStartup);
    return runUpdater(argc, argv);
}
