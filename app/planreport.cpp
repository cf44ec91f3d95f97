#include "app/planreport.h"

#include "common/blake2b512.h"
#include "install/archivecopy.h"
#include "install/deltaplan.h"
#include "install/removals.h"
#include "platform/nativedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 hashPiece = 1024 * 1024;

} // namespace

PlanReport::PlanReport(const QString &dir)
    : dir(dir)
{ }

PlanReport::Verdict PlanReport::zip(QFile *package, const QString &name)
{
    ArchiveCopy copy;
    if (!copy.read(package, name)) {
        why = copy.errorString();
        return Verdict::Refused;
    }
    for (const PackagePlan::Entry &entry : copy.plan().entries()) {
        if (!entry.isDir)
            lines << placed(entry.path);
    }
    return judge(copy.removals(), copy.plan());
}

PlanReport::Verdict PlanReport::delta(QFile *package, const QString &name)
{
    DeltaPlan plan;
    if (!plan.read(package, name, dir)) {
        why = plan.errorString();
        return Verdict::Refused;
    }
    for (const DeltaIndex::File &file : plan.index().files()) {
        if (!file.patch) {
            lines << placed(file.path);
        } else if (matches(file.path, file.oldDigest)) {
            lines << QStringLiteral("patched ") + file.path;
        } else {
            why = file.path + QLatin1String(": the installed file differs from the one the delta "
                                            "patches");
            return Verdict::Misfit;
        }
    }
    return judge(plan.index().removals(), plan.result());
}

// The install's own judgement of which listed files go.
PlanReport::Verdict PlanReport::judge(const RemovalList &list, const PackagePlan &plan)
{
    Removals removals;
    const NativeDir target = NativeDir::open(QFileInfo(dir).canonicalFilePath());
    if (!target.isValid() || !removals.judge(target, list, plan)) {
        why = target.isValid() ? removals.errorString()
                               : QStringLiteral("cannot open the target directory: ") + dir;
        return Verdict::Refused;
    }
    lines << removals.lines();
    return Verdict::Fits;
}

QString PlanReport::placed(const QString &path) const
{
    return (QFileInfo::exists(QDir(dir).filePath(path)) ? QStringLiteral("replaced ")
                                                        : QStringLiteral("added "))
            + path;
}

// Read in pieces: an installed file may be larger than memory allows at once.
bool PlanReport::matches(const QString &path, const QByteArray &digest) const
{
    QFile installed(QDir(dir).filePath(path));
    if (!installed.open(QIODevice::ReadOnly))
        return false;
    Blake2b512 hash;
    while (!installed.atEnd()) {
        const QByteArray piece = installed.read(hashPiece);
        if (piece.isEmpty())
            return false;
        hash.addData(piece);
    }
    return hash.result() == digest;
}
