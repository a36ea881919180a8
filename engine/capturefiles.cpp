#include "capturefiles.h"

#include <QDir>

#include <array>

namespace CaptureFiles {

QString captureNumber(qint32 counter)
{
    return QStringLiteral("%1").arg(counter, 4, 10, QLatin1Char('0'));
}

namespace {

QString captureFileName(const QString &folder, qint32 counter, QLatin1StringView separator, int port,
                        QLatin1StringView extension)
{
    return QDir(folder).filePath(QLatin1Char('x') + captureNumber(counter) + separator + QString::number(port) +
                                 extension);
}

// The two-character field of every byte value.
const std::array<char16_t, 512> &hexFields()
{
    static const std::array<char16_t, 512> fields = [] {
        std::array<char16_t, 512> f{};
        constexpr char16_t digits[] = u"0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            f[2 * b] = b < 16 ? u' ' : digits[b >> 4];
            f[2 * b + 1] = digits[b & 15];
        }
        return f;
    }();
    return fields;
}

} // namespace

QString dataFileName(const QString &folder, qint32 counter, int port)
{
    return captureFileName(folder, counter, QLatin1StringView("_"), port, QLatin1StringView(".dat"));
}

QString lengthLogName(const QString &folder, qint32 counter, int port)
{
    return captureFileName(folder, counter, QLatin1StringView("_"), port, QLatin1StringView(".log"));
}

QString errorLogName(const QString &folder, qint32 counter, int port)
{
    return captureFileName(folder, counter, QLatin1StringView("_err"), port, QLatin1StringView(".log"));
}

QByteArray lengthLine(qsizetype length)
{
    return ' ' + QByteArray::number(length) + " \r\n";
}

QString hexRendering(const QByteArray &chunk)
{
    const auto &fields = hexFields();
    QString hex(chunk.size() * 2, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(hex.data());
    for (const char c : chunk) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = fields[2 * b];
        *out++ = fields[2 * b + 1];
    }
    return hex;
}

QString asciiRendering(const QByteArray &chunk)
{
    QString ascii = QString::fromLatin1(chunk);
    ascii.replace(QChar(u'\0'), QChar(u' '));
    return ascii;
}

QString paneLine(const QString &timestamp, QLatin1StringView tag, const QString &payload)
{
    QString line;
    line.reserve(timestamp.size() + tag.size() + payload.size() + 2);
    line.append(timestamp).append(tag).append(payload).append(LineEnd);
    return line;
}

} // namespace CaptureFiles
