#include "zipwriter.h"

#include <QtEndian>

#include <array>

namespace ZipWriter {

namespace {

void put16(QByteArray &out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 2);
}

void put32(QByteArray &out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 4);
}

// The fields that the local header and the central directory share, from "version needed" on.
void putCommon(QByteArray &out, const QByteArray &name, const QByteArray &bytes, quint16 dosTime, quint16 dosDate)
{
    put16(out, 10); // version needed: 1.0, stored
    put16(out, 0);  // flags
    put16(out, 0);  // method: stored
    put16(out, dosTime);
    put16(out, dosDate);
    put32(out, crc32(bytes));
    put32(out, quint32(bytes.size())); // compressed size
    put32(out, quint32(bytes.size()));
    put16(out, quint16(name.size()));
    put16(out, 0); // extra field length
}

} // namespace

quint32 crc32(QByteArrayView bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : bytes)
        crc = table[(crc ^ quint8(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray archive(const QList<Entry> &files, const QDateTime &time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    const auto dosDate = quint16(((std::max(d.year(), 1980) - 1980) << 9) | (d.month() << 5) | d.day());
    const auto dosTime = quint16((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
    QByteArray out;
    QByteArray directory;
    for (const auto &[fileName, bytes] : files) {
        const QByteArray name = fileName.toLatin1();
        const auto offset = quint32(out.size());
        put32(out, 0x04034b50);
        putCommon(out, name, bytes, dosTime, dosDate);
        out += name;
        out += bytes;

        put32(directory, 0x02014b50);
        put16(directory, 20); // made by: MS-DOS attributes, 2.0
        putCommon(directory, name, bytes, dosTime, dosDate);
        put16(directory, 0); // comment length
        put16(directory, 0); // disk number
        put16(directory, 0); // internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += name;
    }
    const auto directoryOffset = quint32(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0); // this disk
    put16(out, 0); // the directory's disk
    put16(out, quint16(files.size()));
    put16(out, quint16(files.size()));
    put32(out, quint32(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0); // comment length
    return out;
}

} // namespace ZipWriter
