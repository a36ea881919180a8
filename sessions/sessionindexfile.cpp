#include "sessionindexfile.h"

#include "outputfile.h"
#include "sessionindexline.h"
#include "systemfile.h"

#include <QDir>

#include <cerrno>

SessionIndexFile::SessionIndexFile(const QString &folder) : m_path(QDir(folder).filePath(FileName))
{
    m_descriptor = SystemFile::open(m_path, SystemFile::Open::Append, 0644);
    if (m_descriptor < 0)
        throw fileError(errno, m_path);
    const qint64 size = SystemFile::size(m_descriptor);
    if (size < 0) {
        const int error = errno;
        SystemFile::close(m_descriptor);
        throw fileError(error, m_path);
    }
    if (size == 0) {
        try {
            writeAll(SessionIndexLine::Header.toByteArray() + '\n');
        } catch (...) {
            SystemFile::close(m_descriptor);
            throw;
        }
    }
}

SessionIndexFile::~SessionIndexFile()
{
    SystemFile::close(m_descriptor);
}

void SessionIndexFile::record(const SessionEvent &event)
{
    writeAll(SessionIndexLine::format(event));
}

void SessionIndexFile::writeAll(const QByteArray &bytes)
{
    // One write for the whole line; the loop only finishes what a signal or a nearly full disk
    // cut short, still at the end of the file.
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = SystemFile::write(m_descriptor, bytes.constData() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw fileError(written < 0 ? errno : ENOSPC, m_path);
        done += written;
    }
}
