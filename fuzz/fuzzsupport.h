#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// What the fuzz targets that work on a scratch folder share.

#include <QDir>
#include <QDirIterator>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

// Every path below dir, links not followed, sorted.
inline QStringList listing(const QString &dir)
{
    QStringList paths;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    return paths;
}

// A finding: libFuzzer keeps the input that led here.
[[noreturn]] inline void fault(const char *what, const QString &detail)
{
    std::fprintf(stderr, "fuzz fault: %s: %s\n", what, qPrintable(detail));
    std::abort();
}

} // namespace fuzzsupport

#endif // FUZZSUPPORT_H
