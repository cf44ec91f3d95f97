// A child of bench_firstpaint: starts up, and at the first paint of its dialog prints the moment
// (CLOCK_MONOTONIC, shared by all processes, so the parent can subtract its own start stamp) and
// its peak memory, then quits.
//
// Built twice: with PAINT_UPDATER it is the real start-up (runUpdater, compiled-in theme and
// images, the UpdaterDialog); without, a bare QDialog and nothing else.
#ifdef PAINT_UPDATER
#include "app/startup.h"
#include "dialog/updaterdialog.h"
#endif

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

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool isTheDialog(QObject *object)
{
#ifdef PAINT_UPDATER
    return qobject_cast<UpdaterDialog *>(object);
#else
    return qobject_cast<QDialog *>(object);
#endif
}

class FirstPaint : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen && event->type() == QEvent::Paint && isTheDialog(watched)) {
            seen = true;
            const qint64 paint = monotonicNs();
            // The children and the flush to the screen follow in the same repaint; the next turn
            // of the event loop comes after all of it.
            QTimer::singleShot(0, qApp, [paint] {
                std::printf("paint=%lld\nframe=%lld\npeak=%lld\n", paint, monotonicNs(), peakKiB());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool seen = false;
};

// Runs as the application object is made, before any window exists.
void watchFirstPaint()
{
    qApp->installEventFilter(new FirstPaint(qApp));
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
