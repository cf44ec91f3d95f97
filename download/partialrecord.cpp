#include "download/partialrecord.h"

#include "download/dispositionname.h"
#include "download/network.h"
#include "download/resumepolicy.h"
#include "platform/nativedir.h"
#include "platform/updatelock.h"

#include <QFile>

namespace {

const char *const recordName = "partial-download.txt";
const QByteArray firstLine = "updater partial download 1";
// Room for an address of the manifest's longest (2,048 characters) and the rest.
constexpr qint64 maxBytes = 4096;
const char *const keys[] = { "url", "name", "validator", "complete", "saved" };
constexpr int keyCount = int(sizeof(keys) / sizeof(keys[0]));

// The first line, one line per key in this order, and nothing after the last newline.
PartialRecord parse(const QByteArray &text)
{
    PartialRecord record;
    const QList<QByteArray> lines = text.split('\n');
    if (text.size() > maxBytes || lines.size() != keyCount + 2 || lines.first() != firstLine
        || !lines.last().isEmpty())
        return record;
    QByteArray values[keyCount];
    for (int i = 0; i < keyCount; ++i) {
        const QByteArray prefix = QByteArray(keys[i]) + ' ';
        if (!lines.at(i + 1).startsWith(prefix))
            return record;
        values[i] = lines.at(i + 1).mid(prefix.size());
    }
    record.url = QUrl::fromEncoded(values[0], QUrl::StrictMode);
    record.name = QString::fromUtf8(values[1]);
    record.validator = values[2];
    record.complete = ResumePolicy::number(values[3]);
    record.saved = ResumePolicy::number(values[4]);
    return record;
}

} // namespace

PartialRecord PartialRecord::take(const NativeDir &folder, const QUrl &url, QFile *part)
{
    const QString recordFile = QLatin1String(recordName);
    QByteArray text;
    PartialRecord record;
    if (folder.readFile(recordFile, maxBytes, &text))
        record = parse(text);
    folder.removeFile(recordFile);
    // Held from here on: the name may be swapped later, the file written to may not.
    const QString partName = record.name + QLatin1String(".part");
    if (!record.isValid() || record.url != url
        || !folder.openFile(partName, QIODevice::ReadWrite | QIODevice::Unbuffered, part)
        || part->size() != record.saved || !part->seek(record.saved)) {
        part->close();
        record = PartialRecord();
    }
    for (const QString &leftover : folder.entryNames()) {
        if (leftover.endsWith(QLatin1String(".part"), Qt::CaseInsensitive)
            && (!record.isValid() || leftover != partName))
            folder.removeFile(leftover);
    }
    return record;
}

bool PartialRecord::save(const NativeDir &folder) const
{
    const QByteArray values[keyCount] = { url.toEncoded(), name.toUtf8(), validator,
                                          QByteArray::number(complete), QByteArray::number(saved) };
    QByteArray text = firstLine + '\n';
    for (int i = 0; i < keyCount; ++i)
        text += QByteArray(keys[i]) + ' ' + values[i] + '\n';
    // Read back as it will be read: what would not parse is not written.
    if (!isValid() || parse(text).url != url)
        return false;
    // A record cut short by a crash does not parse, and is thrown away as any other.
    const QString recordFile = QLatin1String(recordName);
    folder.removeFile(recordFile);
    QFile file;
    return folder.openFile(recordFile, QIODevice::WriteOnly | QIODevice::NewOnly, &file)
            && file.write(text) == text.size() && file.flush();
}

bool PartialRecord::isValid() const
{
    return Network::isWebAddress(url) && DispositionName::usable(name) == name
            && !name.isEmpty() && !UpdateLock::isLockFileName(name) && !isRecordName(name)
            && ResumePolicy::isValidator(validator) && saved > 0 && saved < complete;
}

bool PartialRecord::isRecordName(const QString &name)
{
    return name.compare(QLatin1String(recordName), Qt::CaseInsensitive) == 0;
}
