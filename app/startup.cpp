#include "app/startup.h"

#include "app/builtintrust.h"
#include "app/commandline.h"
#include "app/console.h"
#include "app/consoleroad.h"
#include "app/runlog.h"
#include "app/theme.h"
#include "app/translation.h"
#include "dialog/picturecache.h"
#include "dialog/updaterdialog.h"
#include "install/installrecovery.h"
#include "road/settings.h"
#include "verify/minisignkey.h"

#include <QApplication>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QScreen>
#include <QUrl>

#include <optional>

namespace {

constexpr int usageError = 1;

void tellVersion()
{
    Console::out(QStringLiteral("updater ") + updaterVersion);
    Console::out(QStringLiteral("server: ") + QUrl(manifestUrl).host());
    const MinisignKey key = MinisignKey::fromString(publicKey);
    Console::out(key.isNull() ? QStringLiteral("unsigned: updates are not authenticated")
                              : QStringLiteral("signed, key id ") + key.printableKeyId());
}

// Under X the platform plugin loads GLX, and with it Mesa, for the first window unless told not
// to: tens of milliseconds and MiB before the first paint, for a window that draws nothing with
// OpenGL. Set before the application object, unset once the window exists, so that a program
// started later gets the environment as it was.
const char *const glIntegration = "QT_XCB_GL_INTEGRATION";

int runWindow(RunLog *log, PictureCache &picture, bool glLeftOut)
{
    loadStyleSheet();
    // Before the dialog can look at the folder: an install cut short by a crash is rolled back,
    // unless another updater is at work there, which the dialog then tells.
    InstallRecovery recovery(QCoreApplication::applicationDirPath());
    const InstallRecovery::Outcome recovered = recovery.run();

    UpdaterDialog dialog;
    if (log)
        log->follow(dialog.updateRun());
    dialog.reportRecovery(recovered, recovery.errorString());
    // The label takes its picture from the cache when the dialog is shown, not before.
    picture.install();
    dialog.show();
    if (glLeftOut)
        qunsetenv(glIntegration);
    return QCoreApplication::exec();
}

int runRoad(const CommandLine &line, RunLog *log)
{
    ConsoleRoad road(line);
    if (log)
        log->follow(road.run());
    QObject::connect(&road, &ConsoleRoad::done, QCoreApplication::instance(),
                     &QCoreApplication::exit, Qt::QueuedConnection);
    road.start(line.version);
    return QCoreApplication::exec();
}

// Before any request, in every mode: what https trusts is the publisher's choice, and a build
// whose certificates cannot be read says so rather than trust the system's store instead.
bool applyTrust(QCoreApplication *app)
{
    if (BuiltInTrust::apply())
        return true;
    Console::attach();
    Console::err(BuiltInTrust::unreadableText());
    if (qobject_cast<QApplication *>(app))
        QMessageBox::critical(nullptr, QStringLiteral("updater"), BuiltInTrust::unreadableText());
    return false;
}

// What only counts before the application object is made. True where OpenGL was left out here.
bool beforeApplication(bool headless)
{
    // Drawn at the screen's scale, 150 % as 150 %, not rounded to 200 %: the window, its picture
    // and the log's lines keep their proportions.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
            Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    const bool glLeftOut = !headless && !qEnvironmentVariableIsSet(glIntegration);
    if (glLeftOut)
        qputenv(glIntegration, "none");
    return glLeftOut;
}

} // namespace

int runUpdater(int &argc, char **argv)
{
    // Without a window nothing of the GUI is loaded, so that it runs where there is no screen.
    const bool headless = CommandLine::isHeadless(argc, argv);
    // With a window, its picture is decoded meanwhile: that takes longer than the rest of the
    // start-up until the dialog is shown.
    std::optional<PictureCache> picture;
    if (!headless)
        picture.emplace();
    const bool glLeftOut = beforeApplication(headless);
    const std::unique_ptr<QCoreApplication> app = headless
            ? Console::application(argc, argv)
            : std::make_unique<QApplication>(argc, argv);
    loadTranslation();
    // The picture's reader had the image plugins looked for before the application object
    // existed, without the program's folder: they are looked for again, with it.
    if (picture) {
        QCoreApplication::setLibraryPaths(QCoreApplication::libraryPaths());
        const QScreen *screen = QGuiApplication::primaryScreen();
        picture->setPixelRatio(screen ? screen->devicePixelRatio() : 1.0);
    }
    // QApplication has taken its own options out of arguments(), which has them in Unicode,
    // where Windows gives argv in the ANSI code page.
    CommandLine line;
    const bool understood = line.parse(QCoreApplication::arguments());
    if (!understood || line.mode != CommandLine::Mode::Window)
        Console::attach();
    if (!understood) {
        Console::err(
                CommandLine::tr("%1\nupdater --help tells the options").arg(line.errorString()));
        return usageError;
    }
    // Without a version the compiled-in "0.0.0" stays, which asks for the full package.
    if (!line.version.isEmpty())
        currentVersion = line.version;
    // Every request goes the way the system sends other programs' traffic; Qt on Windows
    // otherwise connects directly, which networks that only let a proxy out refuse.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    if (!applyTrust(app.get()))
        return usageError;

    std::unique_ptr<RunLog> log;
    if (!line.logFile.isEmpty()) {
        log = std::make_unique<RunLog>();
        if (!log->open(line.logFile)) {
            Console::err(CommandLine::tr("cannot open the log %1: %2")
                                 .arg(line.logFile, log->errorString()));
            return usageError;
        }
    }
    switch (line.mode) {
    case CommandLine::Mode::Help:
        Console::out(line.helpText());
        return 0;
    case CommandLine::Mode::Version:
        tellVersion();
        return 0;
    case CommandLine::Mode::Check:
    case CommandLine::Mode::Update:
    case CommandLine::Mode::DryRun:
        return runRoad(line, log.get());
    case CommandLine::Mode::Window:
        if (picture)
            return runWindow(log.get(), *picture, glLeftOut);
        break;
    }
    Console::err(CommandLine::tr("these options open no window and ask for nothing to be done"));
    return usageError;
}
