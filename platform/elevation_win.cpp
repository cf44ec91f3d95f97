#include "platform/elevation.h"

#include <QDir>
#include <QRandomGenerator>

#include <windows.h>

#include <shellapi.h>

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// One argument as CommandLineToArgvW reads it back: quoted, backslashes doubled before a quote.
QString quoted(const QString &argument)
{
    QString result = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        result += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes,
                          QLatin1Char('\\'));
        backslashes = 0;
        result += c;
    }
    return result + QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
}

} // namespace

// Access lists, UAC and read-only media all decide; only a real create answers for all of them.
bool Elevation::canWriteTo(const QString &folder)
{
    const QString probe = QDir::toNativeSeparators(folder) + QStringLiteral("\\.updater-probe-")
            + QString::number(QRandomGenerator::global()->generate64(), 36);
    const HANDLE handle = CreateFileW(wide(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    // Other failures are no question of rights: the install reports them itself.
    const DWORD error = GetLastError();
    return error != ERROR_ACCESS_DENIED && error != ERROR_WRITE_PROTECT;
}

bool Elevation::isElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation {};
    DWORD size = 0;
    const bool known
            = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated;
}

Elevation::Start Elevation::startElevated(const QString &program, const QStringList &arguments,
                                          QString *error)
{
    QStringList parameters;
    for (const QString &argument : arguments)
        parameters.append(quoted(argument));
    const QString file = QDir::toNativeSeparators(program);
    const QString joined = parameters.join(QLatin1Char(' '));
    SHELLEXECUTEINFOW info {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = wide(file);
    info.lpParameters = wide(joined);
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info))
        return Start::Started;
    const DWORD code = GetLastError();
    if (code == ERROR_CANCELLED)
        return Start::Refused;
    *error = QStringLiteral("the system did not start it (error %1)").arg(code);
    return Start::Failed;
}
