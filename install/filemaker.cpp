#include "install/filemaker.h"

#include "install/archivecopy.h"
#include "install/deltastaging.h"

FileMaker::~FileMaker() = default;

std::unique_ptr<FileMaker> FileMaker::forKind(PackageKind kind, const QString &target)
{
    switch (kind) {
    case PackageKind::Incremental:
        return std::make_unique<ArchiveCopy>();
    case PackageKind::Delta:
        return std::make_unique<DeltaStaging>(target);
    case PackageKind::Full:
        break;
    }
    return nullptr;
}
