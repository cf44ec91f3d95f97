#ifndef PACKAGECHOICE_H
#define PACKAGECHOICE_H

#include "install/packagekind.h"
#include "road/manifest.h"

#include <QCoreApplication>
#include <QString>

// Whether a manifest offers an update over the installed version, and which package it is: the
// full installer from a version of nothing but zeros, the delta from the very release it
// patches, the zip otherwise.
class PackageChoice
{
    Q_DECLARE_TR_FUNCTIONS(PackageChoice)

public:
    PackageChoice() = default;
    PackageChoice(const Manifest &manifest, const QString &installed);

    // Only a strictly newer release is offered, also because a signed manifest can be replayed.
    bool offered = false;
    // Whether the manifest names a comparable release for this platform; when not, nothing is
    // offered and the summary says what is missing.
    bool hasRelease = true;
    bool needFull = false;
    PackageKind kind = PackageKind::Incremental;
    QString url;
    // What the check tells of it: the installed version and, when offered, the latest one with
    // its time and changelog; or why the manifest offers no release at all.
    QString summary;
};

#endif // PACKAGECHOICE_H
