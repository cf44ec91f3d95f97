#ifndef DISPOSITIONNAME_H
#define DISPOSITIONNAME_H

#include <QByteArray>
#include <QString>

// The file name rule for names a server gives, as a class of static functions: pure, so that a
// fuzz target can drive it. Every name it returns is one plain file name that stays in the
// folder it is joined to, on Linux, macOS and Windows alike.
class DispositionName
{
public:
    // The file name of a Content-Disposition value, or an empty string. The quoted form
    // filename="..." is matched greedily on the percent-decoded value read as UTF-8 (up to a
    // zero byte); the RFC 6266 form filename*=UTF-8''... is taken when the quoted one gives no
    // usable name. The result has passed usable(). A value over 4 KiB gives no name.
    static QString fromHeader(const QByteArray &value);

    // name reduced to its last path component ('/', '\\' and ':' all separate), or an empty
    // string when that is no safe file name: empty, "." or "..", longer than 255 UTF-8 bytes,
    // holding a control character or one of <>"|?*, ending in a dot or a space (Windows drops
    // them, so "Morvane.exe." would be "Morvane.exe"), or a Windows device name (CON, NUL,
    // COM1, LPT1... with any extension), which would write to a device instead of a file.
    static QString usable(const QString &name);
};

#endif // DISPOSITIONNAME_H
