#include "lineoutput.h"

#include "hexdigits.h"
#include "systemfile.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Writes as much as the descriptor takes; -1 on a failure other than an interruption.
qint64 writeSome(int descriptor, const char *data, qsizetype size)
{
    for (;;) {
        const qint64 written = SystemFile::write(descriptor, data, size);
        if (written >= 0)
            return written;
        if (errno == EINTR)
            continue;
        // A descriptor inherited in non-blocking mode: wait until the reader catches up.
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && SystemFile::waitWritable(descriptor))
            continue;
        return -1;
    }
}

bool isAscii(QStringView text)
{
    char16_t all = 0;
    for (const char16_t *c = text.utf16(), *end = c + text.size(); c < end; ++c)
        all |= *c;
    return all < 0x80;
}

// Appends text to out as UTF-8. Pane lines are ASCII (hex lines, text protocols), which
// Qt's encoder handles fastest, or Latin-1 throughout (a binary chunk's byte values), which
// it handles slowly; the loop below takes a Latin-1 character without a branch. An unpaired
// surrogate becomes U+FFFD.
void appendUtf8(QByteArray &out, QStringView text)
{
    if (isAscii(text)) {
        out += text.toUtf8();
        return;
    }
    const qsizetype start = out.size();
    out.resize(start + 3 * text.size()); // the most that one UTF-16 unit can take
    auto *p = reinterpret_cast<unsigned char *>(out.data() + start);
    const char16_t *s = text.utf16();
    const char16_t *const end = s + text.size();
    while (s < end) {
        const char16_t c = *s++;
        if (c < 0x100) [[likely]] {
            // Masks rather than a condition: in a binary chunk the two cases alternate at random.
            const unsigned twoBytes = c >> 7;
            const unsigned mask = 0u - twoBytes;
            p[0] = static_cast<unsigned char>((c & ~mask) | ((0xC0u | (c >> 6)) & mask));
            p[1] = static_cast<unsigned char>(0x80u | (c & 0x3Fu));
            p += 1 + twoBytes;
        } else if (c < 0x800) {
            *p++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && s < end && QChar::isLowSurrogate(*s)) {
            const char32_t u = QChar::surrogateToUcs4(c, *s++);
            *p++ = static_cast<unsigned char>(0xF0 | (u >> 18));
            *p++ = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            const char16_t u = QChar::isSurrogate(c) ? char16_t(QChar::ReplacementCharacter) : c;
            *p++ = static_cast<unsigned char>(0xE0 | (u >> 12));
            *p++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
    out.resize(reinterpret_cast<char *>(p) - out.data());
}

// The UTF-8 of each byte value's character in a chunk's ASCII line: one or two bytes, a NUL as
// a blank and, on a terminal, a control character as '.'.
struct AsciiUtf8
{
    std::array<std::array<char, 2>, 256> bytes{};
    std::array<quint8, 256> lengths{};

    explicit AsciiUtf8(bool terminal)
    {
        for (int b = 0; b < 256; ++b) {
            int c = b == 0 ? ' ' : b;
            if (terminal && isControl(char16_t(c)) && c != '\t' && c != '\r' && c != '\n')
                c = '.';
            if (c < 0x80) {
                bytes[b] = {char(c), 0};
                lengths[b] = 1;
            } else {
                bytes[b] = {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
                lengths[b] = 2;
            }
        }
    }
};

} // namespace

QString terminalSafe(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (isControl(u) && u != u'\t' && u != u'\r' && u != u'\n')
            c = QLatin1Char('.');
    }
    return text;
}

LineOutput::LineOutput(int descriptor)
    : m_descriptor(descriptor)
    , m_terminal(SystemFile::isTerminal(descriptor))
{
}

LineOutput::~LineOutput()
{
    flush();
}

void LineOutput::write(const QString &text)
{
    if (m_terminal)
        appendUtf8(m_buffer, terminalSafe(text));
    else
        appendUtf8(m_buffer, text);
    if (m_buffer.size() >= FlushThreshold)
        flush();
}

void LineOutput::writeChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk,
                                Rendering rendering)
{
    appendUtf8(m_buffer, timestamp);
    m_buffer.append(tag.data(), tag.size());
    const qsizetype start = m_buffer.size();
    m_buffer.resize(start + 2 * chunk.size() + 2); // the most either rendering takes
    char *out = m_buffer.data() + start;
    if (rendering == Rendering::Hex) {
        // CaptureFiles::hexRendering() written straight into UTF-8, so that no text of the line
        // is made first; tst_lineoutput holds the two equal over every byte value.
        for (const char c : chunk) {
            const auto b = static_cast<unsigned char>(c);
            *out++ = b < 16 ? ' ' : Hex::Digits[b >> 4];
            *out++ = Hex::Digits[b & 15];
        }
    } else {
        static const AsciiUtf8 plain(false);
        static const AsciiUtf8 masked(true);
        const AsciiUtf8 &table = m_terminal ? masked : plain;
        for (const char c : chunk) {
            const auto b = static_cast<unsigned char>(c);
            std::memcpy(out, table.bytes[b].data(), 2);
            out += table.lengths[b];
        }
    }
    *out++ = '\r';
    *out++ = '\n';
    m_buffer.resize(out - m_buffer.constData());
    if (m_buffer.size() >= FlushThreshold)
        flush();
}

// Room for every line at once, each then copied after its prefix: appending the pieces line by
// line took 420 instructions a decoded record's line, this 210.
void LineOutput::writeLines(const QString &timestamp, const QByteArray &lines)
{
    const QByteArray prefix = timestamp.toUtf8();
    const char *const end = lines.constData() + lines.size();
    const auto lineAfter = [end](const char *from) {
        const void *lineEnd = std::memchr(from, '\n', std::size_t(end - from));
        return lineEnd ? static_cast<const char *>(lineEnd) + 1 : end;
    };
    qsizetype count = 0;
    for (const char *from = lines.constData(); from != end; from = lineAfter(from))
        ++count;
    const qsizetype start = m_buffer.size();
    m_buffer.resize(start + count * prefix.size() + lines.size());
    char *out = m_buffer.data() + start;
    for (const char *from = lines.constData(); from != end;) {
        const char *const next = lineAfter(from);
        std::memcpy(out, prefix.constData(), std::size_t(prefix.size()));
        out += prefix.size();
        std::memcpy(out, from, std::size_t(next - from));
        for (char *c = out; m_terminal && c != out + (next - from); ++c)
            *c = quint8(*c) < 0x20 && *c != '\r' && *c != '\n' ? '.' : *c;
        out += next - from;
        from = next;
    }
    if (m_buffer.size() >= FlushThreshold)
        flush();
}

void LineOutput::flush()
{
    const char *data = m_buffer.constData();
    qsizetype left = m_buffer.size();
    while (left > 0) {
        const qint64 written = writeSome(m_descriptor, data, left);
        if (written < 0)
            break;
        data += written;
        left -= written;
    }
    // The room stays for the next event, unless one huge event made it large.
    if (m_buffer.capacity() > 4 * FlushThreshold)
        m_buffer = QByteArray();
    else
        m_buffer.resize(0);
}
