#include "lineoutput.h"

#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool descriptorIsTerminal(int descriptor)
{
#ifdef Q_OS_WIN
    return _isatty(descriptor) != 0;
#else
    return ::isatty(descriptor) == 1;
#endif
}

// Writes as much as the descriptor takes; -1 on a failure other than an interruption.
qint64 writeSome(int descriptor, const char *data, qsizetype size)
{
    for (;;) {
#ifdef Q_OS_WIN
        const qint64 written = ::_write(descriptor, data, unsigned(qMin<qsizetype>(size, 1 << 30)));
#else
        const qint64 written = ::write(descriptor, data, size_t(size));
#endif
        if (written >= 0)
            return written;
        if (errno == EINTR)
            continue;
#ifndef Q_OS_WIN
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor inherited in non-blocking mode: wait until the reader catches up.
            pollfd ready{descriptor, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
#endif
        return -1;
    }
}

// Appends text to out as UTF-8. Pane lines are ASCII (hex lines, text protocols), which
// Qt's encoder handles fastest, or Latin-1 throughout (a binary chunk's byte values), which
// it handles slowly; the loop below takes a Latin-1 character without a branch. An unpaired
// surrogate becomes U+FFFD.
void appendUtf8(QByteArray &out, QStringView text)
{
    if (QtPrivate::isAscii(text)) {
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
    , m_terminal(descriptorIsTerminal(descriptor))
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
