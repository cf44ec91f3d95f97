#include "app/console.h"

#include <QCoreApplication>

std::unique_ptr<QCoreApplication> Console::application(int &argc, char **argv)
{
    return std::make_unique<QCoreApplication>(argc, argv);
}

// A terminal's output is the program's own already.
void Console::attach()
{ }
