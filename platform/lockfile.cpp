#include "platform/lockfile.h"

QByteArray LockFile::holder() const
{
    return holderContent;
}

QString LockFile::errorString() const
{
    return detail;
}

LockFile::Result LockFile::unusable(const QString &why)
{
    detail = why;
    return Result::Unusable;
}
