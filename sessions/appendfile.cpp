#include "appendfile.h"

#include "outputfile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#define GPSA_OPEN ::_open
#define GPSA_WRITE ::_write
#define GPSA_CLOSE ::_close
#define GPSA_FSTAT ::_fstat64
using StatBuffer = struct _stat64;
constexpr int OpenFlags = _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT;
#else
#include <unistd.h>
#define GPSA_OPEN ::open
#define GPSA_WRITE ::write
#define GPSA_CLOSE ::close
#define GPSA_FSTAT ::fstat
using StatBuffer = struct stat;
constexpr int OpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
#endif

AppendFile::AppendFile(QString path) : m_path(std::move(path))
{
    m_descriptor = GPSA_OPEN(QFile::encodeName(m_path).constData(), OpenFlags, 0644);
    if (m_descriptor < 0)
        throw fileError(errno, m_path);
    StatBuffer status{};
    if (GPSA_FSTAT(m_descriptor, &status) != 0) {
        const int error = errno;
        GPSA_CLOSE(m_descriptor);
        throw fileError(error, m_path);
    }
    m_wasEmpty = status.st_size == 0;
}

AppendFile::~AppendFile()
{
    GPSA_CLOSE(m_descriptor);
}

void AppendFile::write(const QByteArray &bytes)
{
    // One write for the whole text; the loop only finishes what a signal or a nearly full disk
    // cut short, still at the end of the file.
    for (qsizetype done = 0; done < bytes.size();) {
        const auto written = GPSA_WRITE(m_descriptor, bytes.constData() + done, unsigned(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw fileError(written < 0 ? errno : ENOSPC, m_path);
        done += written;
    }
}
