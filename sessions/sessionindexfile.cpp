#include "sessionindexfile.h"

#include "sessionindexline.h"

#include <QDir>

SessionIndexFile::SessionIndexFile(const QString &folder) : m_file(QDir(folder).filePath(FileName))
{
    if (m_file.wasEmpty())
        m_file.write(SessionIndexLine::Header.toByteArray() + '\n');
}

void SessionIndexFile::record(const SessionEvent &event)
{
    m_file.write(SessionIndexLine::format(event));
}
