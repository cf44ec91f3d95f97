#include "app/theme.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

void loadStyleSheet()
{
    QFile file(QStringLiteral(":qdarkstyle/dark/darkstyle.qss"));
    if (!file.exists()) {
        std::printf("Unable to set stylesheet, file not found\n");
        std::fflush(stdout);
        return;
    }
    // Text mode folds CR LF into LF; a failed open leaves an empty sheet, which styles nothing.
    file.open(QIODevice::ReadOnly | QIODevice::Text);
    QTextStream stream(&file);
    qApp->setStyleSheet(stream.readAll());
}
