// A child of bench_firstpaint: starts up, and at the first paint of its dialog prints the moments
// it passed on the way (CLOCK_MONOTONIC, shared by all processes, so the parent can subtract its
// own start stamp) and its peak memory, then quits.
//
// Built three times: with PAINT_UPDATER it is the real start-up (runUpdater, the UpdaterDialog,
// the compiled-in images, with or without the compiled-in theme); without, a bare QDialog and
// nothing else.
#ifdef PAINT_UPDATER
#include "app/startup.h"
#include "dialog/updaterdialog.h"
#endif
#include "testplatform.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFile>
#include <QTimer>

#include <time.h>

#include <cstdio>

namespace {

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool isTheDialog(QObject *object)
{
#ifdef PAINT_UPDATER
    return qobject_cast<UpdaterDialog *>(object);
#else
    return qobject_cast<QDialog *>(object);
#endif
}

// Stamps the way to the first paint: the application object made (the libraries and the
// platform plugin loaded), the dialog being built, shown, and painted.
class FirstPaint : public QObject
{
public:
    FirstPaint(QObject *parent, qint64 appNs)
        : QObject(parent)
        , appNs(appNs)
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (paintNs || !isTheDialog(watched))
            return false;
        // The first event the dialog gets comes while its form is being built.
        if (!builtNs)
            builtNs = monotonicNs();
        if (event->type() == QEvent::Show && !shownNs)
            shownNs = monotonicNs();
        if (event->type() == QEvent::Paint) {
            paintNs = monotonicNs();
            // The children and the flush to the screen follow in the same repaint; the next turn
            // of the event loop comes after all of it.
            QTimer::singleShot(0, qApp, [this] {
                std::printf("app=%lld\nbuilt=%lld\nshown=%lld\npaint=%lld\nframe=%lld\npeak=%lld\n",
                            appNs, builtNs, shownNs, paintNs, monotonicNs(),
                            testplatform::peakKiB());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    const qint64 appNs;
    qint64 builtNs = 0;
    qint64 shownNs = 0;
    qint64 paintNs = 0;
};

// Runs as the application object is made, before any window exists.
void watchFirstPaint()
{
    qApp->installEventFilter(new FirstPaint(qApp, monotonicNs()));
}

} // namespace

int main(int argc, char *argv[])
{
    qAddPreRoutine(watchFirstPaint);
#ifdef PAINT_UPDATER
    return runUpdater(argc, argv);
#else
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.show();
    return app.exec();
#endif
}
