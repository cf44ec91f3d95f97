#ifndef PACKAGEKIND_H
#define PACKAGEKIND_H

// What a downloaded package is, from the moment it is asked for until it is used: a zip of the
// files themselves, a delta package (delta.json, then per file a zstd patch against the
// installed file or the file itself), or the full installer, which is started, not unpacked.
enum class PackageKind { Incremental, Delta, Full };

#endif // PACKAGEKIND_H
