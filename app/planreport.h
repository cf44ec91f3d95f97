#ifndef PLANREPORT_H
#define PLANREPORT_H

#include <QString>
#include <QStringList>

class PackagePlan;
class QFile;
class RemovalList;

// What a verified package would change in a folder, planned with every check an install makes
// before it writes (PackagePlan, DeltaPlan, the installed files a delta patches) and nothing
// written: the lines of --dry-run.
class PlanReport
{
public:
    enum class Verdict {
        Fits, // changes() lists what would change
        Refused, // the install would refuse the package: errorString() says why
        Misfit, // a delta whose installed files are not the ones it patches: the zip instead
    };

    explicit PlanReport(const QString &dir);

    // package: held, open and seekable; name is what a refusal calls it.
    Verdict zip(QFile *package, const QString &name);
    Verdict delta(QFile *package, const QString &name);

    // "added PATH", "replaced PATH", "patched PATH", in the package's order, then "removed PATH"
    // and "kept PATH (changed by the user)" for the files of older releases it removes.
    const QStringList &changes() const { return lines; }
    QString errorString() const { return why; }

private:
    Verdict judge(const RemovalList &list, const PackagePlan &plan);
    QString placed(const QString &path) const;
    bool matches(const QString &path, const QByteArray &digest) const;

    QString dir;
    QStringList lines;
    QString why;
};

#endif // PLANREPORT_H
