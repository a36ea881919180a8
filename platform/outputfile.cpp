#include "outputfile.h"

#include "platformerror.h"
#include "systemfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

PlatformError fileError(int systemError, const QString &path)
{
    int number = ErrorNumber::PathFileAccess;
    QString text = QStringLiteral("Path/File access error");
    switch (systemError) {
    case ENOENT:
    case ENOTDIR:
        number = ErrorNumber::PathNotFound;
        text = QStringLiteral("Path not found");
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        number = ErrorNumber::PermissionDenied;
        text = QStringLiteral("Permission denied");
        break;
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT
    case EDQUOT:
#endif
        number = ErrorNumber::DiskFull;
        text = QStringLiteral("Disk full");
        break;
    default:
        break;
    }
    if (systemError != 0)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(systemError)));
    return PlatformError(number, text + QStringLiteral(": ") + QDir::toNativeSeparators(path));
}

namespace {

SystemFile::Open openFor(OutputFile::Mode mode)
{
    switch (mode) {
    case OutputFile::Mode::Raw:
        return SystemFile::Open::ReadWrite;
    case OutputFile::Mode::Text:
        return SystemFile::Open::Write;
    case OutputFile::Mode::Append:
        break;
    }
    return SystemFile::Open::Append;
}

} // namespace

OutputFolder::~OutputFolder()
{
#ifndef Q_OS_WIN
    if (m_descriptor != -1)
        ::close(m_descriptor);
#endif
}

void OutputFolder::open(const QString &path)
{
    m_path = path;
#ifndef Q_OS_WIN
    m_descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_descriptor == -1)
        throw fileError(errno, path);
#endif
}

OutputFile::~OutputFile()
{
    if (m_descriptor != -1)
        SystemFile::close(m_descriptor);
}

void OutputFile::open(const QString &path, Mode mode)
{
    m_folder = nullptr;
    m_name = path;
    m_descriptor = SystemFile::open(path, openFor(mode), 0666);
    if (m_descriptor == -1)
        fail(errno);
}

void OutputFile::open(const OutputFolder &folder, const QString &name, Mode mode)
{
#ifdef Q_OS_WIN
    open(QDir(folder.path()).filePath(name), mode);
#else
    m_folder = &folder;
    m_name = name;
    m_descriptor = ::openat(folder.descriptor(), name.toLatin1().constData(), SystemFile::openFlags(openFor(mode)), 0666);
    if (m_descriptor == -1)
        fail(errno);
#endif
}

void OutputFile::write(const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = SystemFile::write(m_descriptor, bytes.constData() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(written < 0 ? errno : ENOSPC);
        done += written;
    }
}

void OutputFile::close()
{
    const int descriptor = std::exchange(m_descriptor, -1);
    if (SystemFile::close(descriptor) != 0 && errno != EINTR)
        fail(errno);
}

qint64 OutputFile::size()
{
    const qint64 bytes = SystemFile::size(m_descriptor);
    if (bytes < 0)
        fail(errno);
    return bytes;
}

void OutputFile::fail(int systemError)
{
    if (m_descriptor != -1)
        SystemFile::close(std::exchange(m_descriptor, -1));
    throw fileError(systemError, m_folder != nullptr ? QDir(m_folder->path()).filePath(m_name) : m_name);
}

QString prepareFolder(const QString &folder)
{
    if (folder.isEmpty())
        return QStringLiteral("no folder given");
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder))
        return QStringLiteral("it cannot be created");
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("it is not a folder");
    QTemporaryFile probe(dir.filePath(QStringLiteral(".gps-analyzer-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("new files cannot be written in it");
    return {};
}

bool fileNamesIgnoreCase()
{
#ifdef Q_OS_WIN
    return true;
#else
    return false;
#endif
}

QString defaultCaptureFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\capture");
#else
    return QDir::homePath() + QStringLiteral("/capture");
#endif
}
