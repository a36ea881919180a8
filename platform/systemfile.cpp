#include "systemfile.h"

#include <QFile>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace SystemFile {

#ifdef Q_OS_WIN

int openFlags(Open how)
{
    constexpr int always = _O_CREAT | _O_BINARY | _O_NOINHERIT;
    switch (how) {
    case Open::ReadWrite:
        return _O_RDWR | _O_TRUNC | always;
    case Open::Write:
        return _O_WRONLY | _O_TRUNC | always;
    case Open::Append:
        break;
    }
    return _O_WRONLY | _O_APPEND | always;
}

int open(const QString &path, Open how, int permissions)
{
    return ::_wopen(reinterpret_cast<const wchar_t *>(path.utf16()), openFlags(how), permissions);
}

qint64 write(int descriptor, const char *data, qsizetype size)
{
    return ::_write(descriptor, data, unsigned(std::min<qsizetype>(size, 1 << 30)));
}

int close(int descriptor)
{
    return ::_close(descriptor);
}

qint64 size(int descriptor)
{
    struct _stat64 status {};
    return ::_fstat64(descriptor, &status) == 0 ? qint64(status.st_size) : -1;
}

bool isTerminal(int descriptor)
{
    return ::_isatty(descriptor) != 0;
}

bool waitWritable(int)
{
    return false;
}

#else

int openFlags(Open how)
{
    switch (how) {
    case Open::ReadWrite:
        return O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
    case Open::Write:
        return O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    case Open::Append:
        break;
    }
    return O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
}

int open(const QString &path, Open how, int permissions)
{
    return ::open(QFile::encodeName(path).constData(), openFlags(how), permissions);
}

qint64 write(int descriptor, const char *data, qsizetype size)
{
    return ::write(descriptor, data, size_t(size));
}

int close(int descriptor)
{
    return ::close(descriptor);
}

qint64 size(int descriptor)
{
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 ? qint64(status.st_size) : -1;
}

bool isTerminal(int descriptor)
{
    return ::isatty(descriptor) == 1;
}

bool waitWritable(int descriptor)
{
    pollfd ready{descriptor, POLLOUT, 0};
    ::poll(&ready, 1, -1);
    return true;
}

#endif

} // namespace SystemFile
