#ifndef VERSIONRULE_H
#define VERSIONRULE_H

#include <QString>

// Whether a manifest's latest version is worth offering over the local one. Pure functions of
// the two texts, linear in their length whatever they hold.
class VersionRule
{
public:
    // Offered exactly when isNewer(local, latest). needFull, when given, becomes true exactly
    // when every local part is the text "0".
    static bool offersUpdate(const QString &local, const QString &latest, bool *needFull = nullptr);

    // True only when latest is greater than local, compared part by part as numbers, a missing
    // part counting as 0 (1.2 equals 1.2.0). Either text must be usable.
    static bool isNewer(const QString &local, const QString &latest);
    // Whether text is dot-separated parts of 1 to 9 ASCII digits: empty parts, signs, letters,
    // spaces and numbers past 999999999 make a version nothing sound can be offered against.
    static bool isUsable(const QString &text);
};

#endif // VERSIONRULE_H
