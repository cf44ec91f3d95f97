// Stands in for Morvane and for a full installer. A copy of this program with the line
// "updater-marker WHAT<tab>FOLDER" appended (testsupport::marker) writes "WHAT" and a line end
// into FOLDER/started when it is started, then each of its arguments on a line of its own: every
// system runs a program whatever follows its bytes.
#include <QCoreApplication>
#include <QFile>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // "--stay": a program that runs until the test closes its input.
    if (app.arguments().contains(QStringLiteral("--stay"))) {
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        return input.readAll().isEmpty() ? 0 : 4;
    }
    QFile self(QCoreApplication::applicationFilePath());
    if (!self.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = self.readAll();
    const int at = bytes.lastIndexOf("\nupdater-marker ");
    const QByteArray line = bytes.mid(at + 16).trimmed();
    const int tab = line.indexOf('\t');
    if (at < 0 || tab < 0)
        return 2;
    QByteArray text = line.left(tab) + '\n';
    for (const QString &argument : app.arguments().mid(1))
        text += argument.toUtf8() + '\n';
    QFile started(QString::fromUtf8(line.mid(tab + 1)) + QStringLiteral("/started"));
    return started.open(QIODevice::WriteOnly) && started.write(text) == text.size() ? 0 : 3;
}
