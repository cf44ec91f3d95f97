#ifndef TESTPLATFORM_H
#define TESTPLATFORM_H

// What the tests and the benchmarks ask of the system itself, one source per system
// (testplatform_unix.cpp, testplatform_win.cpp).

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>
#include <QtGlobal>

namespace testplatform {

// Memory of this process in KiB: resident now, and the peak since the start or the last
// resetPeak(); -1 where the system cannot tell.
qint64 residentKiB();
qint64 peakKiB();
// Starts a new peak from what is resident now. Windows keeps one peak per process and cannot
// reset it: there the peak stays the whole process's, so a bound checked against it is only
// stricter.
void resetPeak();

// Ends this process at once, as a crash or a power cut would: nothing is cleaned up, and the
// parent sees a crash.
[[noreturn]] void endAbruptly();

// Opens path for reading in a way that lets it be removed while open, as Unix always does.
bool openSharingRemoval(QFile *file, const QString &path);

// A symbolic link named link leading to target (a relative target is taken from the link's
// folder); false where this system or user cannot make one.
bool makeSymbolicLink(const QString &target, const QString &link);

// A second name link for the existing file target, on the same volume; false where the system
// cannot make one.
bool makeHardLink(const QString &target, const QString &link);

// The permission bits that a file given mode reads back with: Windows keeps only whether the
// owner may write, as the read-only attribute (0444, else 0666).
int keptMode(int mode);

// The file name of a program called name: "name.exe" on Windows, which starts nothing else.
QString programFile(const QString &name);

// Points the user's proxy setting at proxy for the programs started while it lives, as the
// system's own settings do: http_proxy (Unix), Internet Options' connection settings (Windows).
class SystemProxy
{
public:
    explicit SystemProxy(const QUrl &proxy);
    ~SystemProxy();
    SystemProxy(const SystemProxy &) = delete;
    SystemProxy &operator=(const SystemProxy &) = delete;

private:
    QByteArray previous; // the setting it replaced, put back when it goes
};

// A mount on folder while it lives, where the system lets the test mount (Unix, as root): a
// tmpfs of the given size, for runs into a full disk, or with bytes 0 the folder itself again,
// read-only.
class TestMount
{
public:
    TestMount(const QString &folder, qint64 bytes);
    ~TestMount();
    TestMount(const TestMount &) = delete;
    TestMount &operator=(const TestMount &) = delete;

    bool isMounted() const { return !mountPoint.isEmpty(); }
    // Why it is not.
    QString whyNot() const { return reason; }

private:
    QString mountPoint;
    QString reason;
};

} // namespace testplatform

#endif // TESTPLATFORM_H
