// Drives the update dialog as a user would, from inside a copy of this program that the tests
// place in a temporary application directory:
//   roadprobe <deadline ms> <manifest url> <installed version> <yes|no|again|cancel|alter> [key]
// "again" answers No, presses "update" once more and answers Yes. "cancel" answers Yes, then
// presses cancel while the package is being unpacked. "alter" first
// changes a byte of the downloaded package in place, its time stamp kept, then answers Yes. With a
// key it is a signed build. Retries come after 20 ms. ROAD_LIMIT_MS, when set, shortens the network
// time limits (no byte for that long, or too slow over twice that long) and allows one retry, so
// that hostile servers take seconds. ROAD_REQUIRE_EXPIRY=1 builds it as UPDATER_REQUIRE_EXPIRY
// would. ROAD_CA_FILE, when set, names the PEM certificates https trusts in place of the system's
// store, as UPDATER_CA_FILE would. It presses "check", then "update" when it is offered,
// answers the question, and reports what the dialog showed. Exit status: 0 when the updater quit by
// itself, 3 when the dialog stayed open at the end of the road, 4 when the road had not ended by
// the deadline: the test's own, so that a busy machine slows the road rather than failing it.
#include "dialog/updaterdialog.h"
#include "download/network.h"
#include "download/networklimits.h"
#include "road/settings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

void report(const UpdaterDialog &dialog)
{
    const auto text = [&dialog](const char *name) {
        return dialog.findChild<QLabel *>(QLatin1String(name))->text();
    };
    std::printf("label_2=%s\n", qPrintable(text("label_2")));
    std::printf("label_3=%s\n", qPrintable(text("label_3")));
    std::printf("progress=%d\n", dialog.findChild<QProgressBar *>()->value());
    const QString log = dialog.findChild<QPlainTextEdit *>()->toPlainText();
    for (const QString &line : log.split(QLatin1Char('\n')))
        std::printf("log=%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The end of a road on which the dialog stays open.
bool stayedOpen(const QString &log, bool questionAnswered, bool answeredNo)
{
    return log.contains(QLatin1String("download failed"))
            || log.contains(QLatin1String("update package rejected"))
            || log.contains(QLatin1String("update could not be started"))
            || log.contains(QLatin1String("administrator rights are needed to update"))
            || (questionAnswered && answeredNo);
}

// As someone with the user's rights could between the question and Yes; false where the
// system refuses to open the file for writing.
bool alterInPlace()
{
    const QDir downloads(QCoreApplication::applicationDirPath() + "/updater-downloads");
    QFile file(downloads.filePath(downloads.entryList({ "*.zip" }).value(0)));
#ifndef Q_OS_WIN
    struct stat before;
    if (::stat(QFile::encodeName(file.fileName()).constData(), &before) != 0)
        return false;
#endif
    if (!file.open(QIODevice::ReadWrite) || !file.seek(file.size() / 2))
        return false;
    char byte = 0;
    file.peek(&byte, 1);
    file.write(QByteArray(1, char(byte ^ 1)));
    file.close();
#ifndef Q_OS_WIN
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    ::utimensat(AT_FDCWD, QFile::encodeName(file.fileName()).constData(), times, 0);
#endif
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QDeadlineTimer deadline(QByteArray(argc > 1 ? argv[1] : "").toInt());
    if ((argc != 5 && argc != 6) || deadline.remainingTime() <= 0)
        return 2;
    manifestUrl = QString::fromUtf8(argv[2]);
    currentVersion = QString::fromUtf8(argv[3]);
    const bool cancelInstall = qstrcmp(argv[4], "cancel") == 0;
    const bool alter = qstrcmp(argv[4], "alter") == 0;
    bool again = qstrcmp(argv[4], "again") == 0;
    const bool answerYes = cancelInstall || alter || again || qstrcmp(argv[4], "yes") == 0;
    publicKey = argc == 6 ? QString::fromUtf8(argv[5]) : QString();
    requireExpiry = qEnvironmentVariableIntValue("ROAD_REQUIRE_EXPIRY") == 1;
    if (qEnvironmentVariableIsSet("ROAD_CA_FILE"))
        Network::setTrustedCertificates(
                QSslCertificate::fromPath(qEnvironmentVariable("ROAD_CA_FILE")));
    NetworkLimits::retryDelayMs = 20;
    if (const int limit = qEnvironmentVariableIntValue("ROAD_LIMIT_MS")) {
        NetworkLimits::stallTimeoutMs = limit;
        NetworkLimits::dripWindowMs = 2 * limit;
        NetworkLimits::retryCount = 1;
    }

    UpdaterDialog dialog;
    dialog.show();
    auto *log = dialog.findChild<QPlainTextEdit *>();
    auto *update = dialog.findChild<QPushButton *>(QStringLiteral("btn_update"));

    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btn_check")), Qt::LeftButton);
    if (!QTest::qWaitFor([log] { return !log->toPlainText().isEmpty(); },
                         int(deadline.remainingTime())))
        return 4;
    std::printf("update-offered=%d\n", update->isEnabled());
    if (!update->isEnabled()) {
        report(dialog);
        return 3;
    }

    bool questionAnswered = false;
    bool cancelPressed = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, &dialog, [&] {
        if (cancelInstall && questionAnswered && !cancelPressed
            && !QApplication::activeModalWidget()) {
            // The question has returned and the install runs: the window must wait for it.
            cancelPressed = true;
            QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btn_cancel")),
                              Qt::LeftButton);
            std::printf("visible-after-cancel=%d\n", dialog.isVisible());
        } else if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("question=%s|%s\n", qPrintable(box->windowTitle()),
                        qPrintable(box->text().replace(QLatin1Char('\n'), QLatin1Char('|'))));
            questionAnswered = true;
            if (alter)
                std::printf("altered=%d\n", alterInPlace());
            box->button(answerYes && !again ? QMessageBox::Yes : QMessageBox::No)->click();
            if (again)
                QTimer::singleShot(0, update,
                                   [update] { QTest::mouseClick(update, Qt::LeftButton); });
            again = false;
        } else if (stayedOpen(log->toPlainText(), questionAnswered, !answerYes)) {
            QCoreApplication::exit(3);
        }
    });
    watcher.start(20);
    QTimer::singleShot(int(deadline.remainingTime()), &dialog, [] { QCoreApplication::exit(4); });
    QTimer::singleShot(0, update, [update] { QTest::mouseClick(update, Qt::LeftButton); });

    const int status = QApplication::exec();
    report(dialog);
    return status;
}
