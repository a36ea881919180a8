#include "sessionindexfile.h"

#include "sessionindexline.h"

#include <QDir>

SessionIndexFile::SessionIndexFile(const QString &folder)
{
    m_file.open(QDir(folder).filePath(FileName), OutputFile::Mode::Append);
    if (m_file.size() == 0)
        m_file.write(SessionIndexLine::Header.toByteArray() + '\n');
}

void SessionIndexFile::record(const SessionEvent &event)
{
    m_file.write(SessionIndexLine::format(event));
}
