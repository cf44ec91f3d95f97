#ifndef ENTRYPATH_H
#define ENTRYPATH_H

#include <QString>

// The rules an entry's path must pass before anything of the package is inflated. Packages are
// for Windows, so its naming rules hold wherever the updater runs.
namespace EntryPath {

constexpr int maxLength = 1024; // characters of the whole relative path
constexpr int maxLevels = 64;
constexpr int maxNameLength = 255; // characters of one component

// Why path (relative, '/'-separated, without a trailing '/') cannot be installed, or an empty
// string when it can. Names that Windows would take for another name are refused: a trailing
// dot or space, a stream ("name:stream"), the shape of a short 8.3 name ("MORVAN~1.EXE").
// Costs one pass over the path.
QString problem(const QString &path);

} // namespace EntryPath

#endif // ENTRYPATH_H
