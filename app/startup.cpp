#include "app/startup.h"

#include "app/theme.h"
#include "road/settings.h"
#include "dialog/updaterdialog.h"
#include "install/installrecovery.h"

#include <QApplication>
#include <QNetworkProxyFactory>

int runUpdater(int &argc, char **argv)
{
    QApplication app(argc, argv);
    loadStyleSheet();
    // QApplication has taken its own options out of argv and arguments(), so the second is the
    // version; arguments() has it in Unicode, where Windows gives argv in the ANSI code page.
    // Without one the compiled-in "0.0.0" stays, which asks for the full package.
    if (argc > 1)
        currentVersion = QCoreApplication::arguments().at(1);

    // Every request goes the way the system sends other programs' traffic; Qt on Windows
    // otherwise connects directly, which networks that only let a proxy out refuse.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    // Before the dialog can look at the folder: an install cut short by a crash is rolled back,
    // unless another updater is at work there, which the dialog then tells.
    InstallRecovery recovery(QCoreApplication::applicationDirPath());
    const InstallRecovery::Outcome recovered = recovery.run();

    UpdaterDialog dialog;
    dialog.takeRecovery(recovered, recovery.errorString());
    dialog.show();
    return app.exec();
}
