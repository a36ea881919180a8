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
    m_buffer += m_terminal ? terminalSafe(text).toUtf8() : text.toUtf8();
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
    m_buffer.clear();
}
