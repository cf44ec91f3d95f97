// Stand-in for the companion application in the demo: a small window showing the version that
// is installed beside it, read from "Morvane.version" in its own folder, so that an update can
// be seen taking effect.
#include <QApplication>
#include <QFile>
#include <QFont>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    QFile versionFile(QCoreApplication::applicationDirPath() + QLatin1String("/Morvane.version"));
    const QString version = versionFile.open(QIODevice::ReadOnly | QIODevice::Text)
            ? QString::fromUtf8(versionFile.readAll()).trimmed()
            : QStringLiteral("(unknown version)");

    QLabel window(QStringLiteral("Morvane %1").arg(version));
    window.setObjectName(QStringLiteral("morvane"));
    window.setWindowTitle(QStringLiteral("Morvane"));
    window.setAlignment(Qt::AlignCenter);
    QFont font = window.font();
    font.setPointSize(20);
    window.setFont(font);
    window.setStyleSheet(QStringLiteral("background: #1e3a5f; color: white;"));
    window.resize(360, 140);
    window.show();
    return app.exec();
}
