#ifndef GPSA_ZIPWRITER_H
#define GPSA_ZIPWRITER_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <utility>

// A zip archive of files stored as they are (method 0, no compression: capture files are the
// bytes a tracker sent, to be read back exactly), each with its CRC-32 and the given time.
// Names are ASCII; sizes stay below 4 GiB (no Zip64).
namespace ZipWriter {

using Entry = std::pair<QString, QByteArray>;
[[nodiscard]] QByteArray archive(const QList<Entry> &files, const QDateTime &time);
// The CRC-32 of zip (and gzip, PNG): reflected polynomial 0xEDB88320, initial and final XOR ~0.
[[nodiscard]] quint32 crc32(QByteArrayView bytes);

} // namespace ZipWriter

#endif
