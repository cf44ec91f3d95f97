#ifndef NATIVEFILE_H
#define NATIVEFILE_H

#include "platform/fileidentity.h"

#include <QtGlobal>

// A file a NativeDir created, open for writing by its handle.
class NativeFile
{
public:
    NativeFile() = default;
    ~NativeFile();
    NativeFile(const NativeFile &) = delete;
    NativeFile &operator=(const NativeFile &) = delete;

    bool isOpen() const;
    bool write(const char *data, qint64 size);
    // Makes what was written durable.
    bool flush();
    // On Windows also makes what was written durable, which the folder's flush() cannot.
    bool close();
    FileIdentity id() const;

private:
    friend class NativeDir;
    qintptr handle = -1;
    qint64 written = 0;
    qint64 writtenBack = 0;
};

#endif // NATIVEFILE_H
