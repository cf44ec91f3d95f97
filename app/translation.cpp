#include "app/translation.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace {

// Both catalogues or neither: German labels beside English buttons read as a fault.
bool install(const QLocale &language)
{
    const QString folder = QStringLiteral(":/translations");
    auto *ours = new QTranslator(QCoreApplication::instance());
    auto *qt = new QTranslator(QCoreApplication::instance());
    if (!ours->load(language, QStringLiteral("updater"), QStringLiteral("_"), folder)
        || !qt->load(language, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        delete ours;
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    QCoreApplication::installTranslator(ours);
    return true;
}

} // namespace

void loadTranslation()
{
    // The resources live in a static library: registered here, where they are used.
    Q_INIT_RESOURCE(translations);
    // In the user's order: "en" before "de" keeps the English source texts.
    for (const QString &name : QLocale::system().uiLanguages()) {
        const QLocale language(name);
        if (language.language() == QLocale::English || install(language))
            return;
    }
}
