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
    // The theme draws a focused field or log with a blue border but a focused button not at all;
    // a keyboard user must see where the focus is. The border is there, unseen, without focus,
    // so that taking focus moves nothing.
    qApp->setStyleSheet(stream.readAll()
                        + QStringLiteral("\nQPushButton { border: 1px solid transparent; }\n"
                                         "QPushButton:focus { border: 1px solid #1A72BB; }\n"));
}
