#include "app/console.h"

#include <QGuiApplication>

#include <cstdio>
#include <windows.h>

namespace {

// Whether a standard handle leads somewhere: a file or a pipe it was started with.
bool leadsSomewhere(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

std::unique_ptr<QCoreApplication> Console::application(int &argc, char **argv)
{
    return std::make_unique<QGuiApplication>(argc, argv);
}

// Output redirected to a file or a pipe keeps its way; only what goes nowhere is sent to the
// console of the program that started this one, if any.
void Console::attach()
{
    const bool out = leadsSomewhere(STD_OUTPUT_HANDLE);
    const bool err = leadsSomewhere(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
}
