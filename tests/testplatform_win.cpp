#include "testplatform.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <psapi.h>

namespace {

PROCESS_MEMORY_COUNTERS counters()
{
    PROCESS_MEMORY_COUNTERS memory {};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        memory.cb = 0;
    return memory;
}

} // namespace

namespace testplatform {

qint64 residentKiB()
{
    const PROCESS_MEMORY_COUNTERS memory = counters();
    return memory.cb ? qint64(memory.WorkingSetSize / 1024) : -1;
}

qint64 peakKiB()
{
    const PROCESS_MEMORY_COUNTERS memory = counters();
    return memory.cb ? qint64(memory.PeakWorkingSetSize / 1024) : -1;
}

void resetPeak()
{ }

void endAbruptly()
{
    // The code QProcess::kill() ends a process with, which QProcess reports as a crash.
    TerminateProcess(GetCurrentProcess(), 0xf291);
    std::abort(); // not reached
}

// QFile shares reading and writing only.
bool openSharingRemoval(QFile *file, const QString &path)
{
    const HANDLE handle
            = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                          GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const int fd = handle == INVALID_HANDLE_VALUE
            ? -1
            : _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return false;
    }
    file->setFileName(path);
    return file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

bool makeSymbolicLink(const QString &target, const QString &link)
{
    const QString native = QDir::toNativeSeparators(link);
    const bool folder = QFileInfo(QFileInfo(link).dir(), target).isDir();
    // Without developer mode only an administrator may make links; the flag asks for the
    // developer-mode permission.
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0)
            | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    // Wine 8 answers TRUE without making anything: only a link that is there counts.
    return CreateSymbolicLinkW(
                   reinterpret_cast<const wchar_t *>(native.utf16()),
                   reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()),
                   flags)
            && QFileInfo(link).isSymLink();
}

bool makeHardLink(const QString &target, const QString &link)
{
    return CreateHardLinkW(
            reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(link).utf16()),
            reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()), nullptr);
}

int keptMode(int mode)
{
    return (mode & 0200) ? 0666 : 0444;
}

QString programFile(const QString &name)
{
    return name + QStringLiteral(".exe");
}

namespace {

const wchar_t connections[]
        = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t connectionSettings[] = L"DefaultConnectionSettings";

} // namespace

// WinHTTP's idea of the user's proxy, which Qt's system configuration asks for: version 0x46, a
// change counter, flags (1 direct, 2 through a proxy), then the proxy, the bypass list and the
// configuration script as sized strings, then fields left zero.
SystemProxy::SystemProxy(const QUrl &proxy)
{
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, connections, connectionSettings, RRF_RT_REG_BINARY, nullptr,
                     nullptr, &size)
        == ERROR_SUCCESS) {
        previous.resize(int(size));
        RegGetValueW(HKEY_CURRENT_USER, connections, connectionSettings, RRF_RT_REG_BINARY, nullptr,
                     previous.data(), &size);
    }
    const QByteArray server = proxy.authority().toLatin1();
    QByteArray settings;
    for (const quint32 field : { 0x46u, 1u, 3u, quint32(server.size()) })
        settings.append(reinterpret_cast<const char *>(&field), 4);
    settings += server + QByteArray(40, '\0');
    RegSetKeyValueW(HKEY_CURRENT_USER, connections, connectionSettings, REG_BINARY,
                    settings.constData(), DWORD(settings.size()));
}

SystemProxy::~SystemProxy()
{
    if (previous.isEmpty())
        RegDeleteKeyValueW(HKEY_CURRENT_USER, connections, connectionSettings);
    else
        RegSetKeyValueW(HKEY_CURRENT_USER, connections, connectionSettings, REG_BINARY,
                        previous.constData(), DWORD(previous.size()));
}

// A Windows program cannot mount a volume. Nor could scripts/test-windows give one to it: under
// Wine the free space of a volume mounted below a drive is unknown to QStorageInfo
// (GetVolumeInformationW fails there), which the Windows build's "disk full" relies on.
TestMount::TestMount(const QString &, qint64)
    : reason(QStringLiteral("a Windows program cannot mount a volume"))
{ }

TestMount::~TestMount() = default;

} // namespace testplatform
