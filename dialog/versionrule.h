#ifndef VERSIONRULE_H
#define VERSIONRULE_H

#include <QString>

// Whether a manifest's latest version is worth offering over the local one. Pure functions of
// the two texts, linear in their length whatever they hold.
class VersionRule
{
public:
    // The rule of the unsigned manifest, kept as it always behaved: offered when the part counts
    // differ or any latest part is numerically greater than the local part at its place (so 2.0
    // against 1.5 is offered). Parts that are empty, not numbers or beyond 32 bits read as 0.
    // needFull, when given, becomes true exactly when every local part is the text "0".
    static bool offersUpdate(const QString &local, const QString &latest, bool *needFull = nullptr);

    // The rule for signed builds: true only when latest is greater than local, compared part by
    // part as numbers, a missing part counting as 0 (1.2 equals 1.2.0). A text that is not dot-
    // separated parts of 1 to 9 ASCII digits (empty parts, signs, letters, spaces, numbers past
    // 999999999) is refused: the answer is then false, as nothing sound can be offered.
    static bool isNewer(const QString &local, const QString &latest);
};

#endif // VERSIONRULE_H
