#include "capturefiles.h"

#include "hexdigits.h"

#include <QDir>

#include <algorithm>
#include <array>

namespace CaptureFiles {

QString captureNumber(qint32 counter)
{
    return QStringLiteral("%1").arg(counter, 4, 10, QLatin1Char('0'));
}

namespace {

// The two-character field of every byte value.
const std::array<char16_t, 512> &hexFields()
{
    static const std::array<char16_t, 512> fields = [] {
        std::array<char16_t, 512> f{};
        for (int b = 0; b < 256; ++b) {
            f[2 * b] = b < 16 ? u' ' : char16_t(Hex::Digits[b >> 4]);
            f[2 * b + 1] = char16_t(Hex::Digits[b & 15]);
        }
        return f;
    }();
    return fields;
}

char16_t *writeHex(char16_t *out, const QByteArray &chunk)
{
    const auto &fields = hexFields();
    for (const char c : chunk) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = fields[2 * b];
        *out++ = fields[2 * b + 1];
    }
    return out;
}

char16_t *writeAscii(char16_t *out, const QByteArray &chunk)
{
    for (const char c : chunk) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = b == 0 ? u' ' : char16_t(b);
    }
    return out;
}

// A pane line whose payload, payloadSize characters long, is written in place by render.
template<typename Render>
QString lineWith(const QString &timestamp, QLatin1StringView tag, qsizetype payloadSize, Render render)
{
    QString line(timestamp.size() + tag.size() + payloadSize + LineEnd.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(line.data());
    out = std::copy_n(reinterpret_cast<const char16_t *>(timestamp.constData()), timestamp.size(), out);
    out = std::copy_n(tag.data(), tag.size(), out);
    out = render(out);
    std::copy_n(LineEnd.data(), LineEnd.size(), out);
    return line;
}

} // namespace

QString dataFile(qint32 counter, int port)
{
    return QLatin1Char('x') + captureNumber(counter) + QLatin1Char('_') + QString::number(port) + QStringLiteral(".dat");
}

QString lengthLog(qint32 counter, int port)
{
    return QLatin1Char('x') + captureNumber(counter) + QLatin1Char('_') + QString::number(port) + QStringLiteral(".log");
}

QString errorLog(qint32 counter, int port)
{
    return QLatin1Char('x') + captureNumber(counter) + QStringLiteral("_err") + QString::number(port) +
           QStringLiteral(".log");
}

QString dataFileName(const QString &folder, qint32 counter, int port)
{
    return QDir(folder).filePath(dataFile(counter, port));
}

QString lengthLogName(const QString &folder, qint32 counter, int port)
{
    return QDir(folder).filePath(lengthLog(counter, port));
}

QString errorLogName(const QString &folder, qint32 counter, int port)
{
    return QDir(folder).filePath(errorLog(counter, port));
}

QByteArray trackerTag(QLatin1StringView tag, const QString &tracker)
{
    const qsizetype rendering = tag.lastIndexOf(QLatin1Char('('));
    if (rendering < 0) { // a tag without a rendering names the tracker before its colon
        const qsizetype colon = tag.lastIndexOf(QLatin1Char(':'));
        return QByteArray(tag.data(), colon) + ' ' + tracker.toLatin1() +
               QByteArray(tag.data() + colon, tag.size() - colon);
    }
    return QByteArray(tag.data(), rendering) + tracker.toLatin1() + ' ' +
           QByteArray(tag.data() + rendering, tag.size() - rendering);
}

QByteArray lengthLine(qsizetype length)
{
    return ' ' + QByteArray::number(length) + " \r\n";
}

QString hexRendering(const QByteArray &chunk)
{
    QString hex(chunk.size() * 2, Qt::Uninitialized);
    writeHex(reinterpret_cast<char16_t *>(hex.data()), chunk);
    return hex;
}

QString asciiRendering(const QByteArray &chunk)
{
    QString ascii(chunk.size(), Qt::Uninitialized);
    writeAscii(reinterpret_cast<char16_t *>(ascii.data()), chunk);
    return ascii;
}

QString paneLine(const QString &timestamp, QLatin1StringView tag, const QString &payload)
{
    QString line;
    line.reserve(timestamp.size() + tag.size() + payload.size() + 2);
    line.append(timestamp).append(tag).append(payload).append(LineEnd);
    return line;
}

QString asciiLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk)
{
    return lineWith(timestamp, tag, chunk.size(), [&chunk](char16_t *out) { return writeAscii(out, chunk); });
}

QString hexLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk)
{
    return lineWith(timestamp, tag, chunk.size() * 2, [&chunk](char16_t *out) { return writeHex(out, chunk); });
}

} // namespace CaptureFiles
