#include "outputfile.h"

#include "platformerror.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

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

void OutputFile::open(const QString &path, Mode mode)
{
    m_file.setFileName(path);
    errno = 0;
    const QIODevice::OpenMode flags = mode == Mode::Raw
                                          ? QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered
                                          : QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered;
    if (!m_file.open(flags))
        fail(errno);
}

void OutputFile::write(const QByteArray &bytes)
{
    errno = 0;
    if (m_file.write(bytes) != bytes.size())
        fail(errno != 0 ? errno : ENOSPC);
}

void OutputFile::close()
{
    errno = 0;
    m_file.close();
    if (m_file.error() != QFileDevice::NoError)
        fail(errno);
}

void OutputFile::fail(int systemError)
{
    const QString path = m_file.fileName();
    m_file.close();
    m_file.unsetError();
    throw fileError(systemError, path);
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

QString defaultCaptureFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\capture");
#else
    return QDir::homePath() + QStringLiteral("/capture");
#endif
}
