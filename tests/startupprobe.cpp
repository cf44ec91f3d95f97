// The real start-up, observed from inside: reports what the user would see of the dialog and
// whether the theme was in force before the dialog was built, then presses "cancel". With
// PROBE_MANIFEST_URL set it first presses "check" against that address, then "update". Either
// way it reports the log, in the language the start-up chose.
#include "app/startup.h"
#include "dialog/updaterdialog.h"
#include "download/networklimits.h"
#include "road/settings.h"

#include <QApplication>
#include <QBackingStore>
#include <QEvent>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxyFactory>
#include <QPixmapCache>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
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
        // The picture in the first frame: grabbed once the repaint that first painted it is done.
        if (event->type() == QEvent::Paint && watched->objectName() == QLatin1String("labelIcon")
            && !frames.contains(watched)) {
            auto *label = static_cast<QLabel *>(watched);
            frames.insert(label, QImage());
            QTimer::singleShot(0, label, [this, label] {
                // A window of the raster platforms paints into an image. A window the platform
                // could not make (Wine's windowless driver, at times) has no image to read.
                const QWindow *const window = label->window()->windowHandle();
                QBackingStore *const backing = label->backingStore();
                const auto *store = window && window->handle() && backing
                        ? dynamic_cast<QImage *>(backing->paintDevice())
                        : nullptr;
                const qreal ratio = label->devicePixelRatioF();
                const QRect area(label->mapTo(label->window(), QPoint()) * ratio,
                                 label->size() * ratio);
                frames.insert(label, store ? store->copy(area) : QImage());
            });
        }
        return false;
    }
    bool seen = false;
    QHash<QObject *, QImage> frames;
};

FirstDialogEvent *observer = nullptr;

// The largest difference in one channel between two pictures; 256 when their sizes differ or
// there is none.
int largestDifference(const QImage &one, const QImage &other)
{
    const QImage a = one.convertToFormat(QImage::Format_RGB32),
                 b = other.convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || a.size() != b.size())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.bytesPerLine(); ++x)
            largest = std::max(largest, std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]));
    }
    return largest;
}

// The first frame of a dialog's picture.
QImage firstFrame(const UpdaterDialog *dialog)
{
    QObject *label = dialog->findChild<QLabel *>(QStringLiteral("labelIcon"));
    return QTest::qWaitFor([label] { return !observer->frames.value(label).isNull(); }, 30000)
            ? observer->frames.value(label)
            : QImage();
}

// The first frame's picture against the first frame of another dialog whose label draws it from
// the file itself, nothing cached.
void reportPicture(UpdaterDialog *dialog)
{
    const QImage frame = firstFrame(dialog);
    QPixmapCache::clear();
    UpdaterDialog uncached;
    uncached.show();
    std::printf("picture-difference=%d\n", largestDifference(frame, firstFrame(&uncached)));
    std::printf("gl-integration-set=%d\n", qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"));
}

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
        reportPicture(dialog);
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
    observer = new FirstDialogEvent(qApp);
    qApp->installEventFilter(observer);
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
