#ifndef GPSA_SMALLTMPFS_H
#define GPSA_SMALLTMPFS_H

#include <QFile>
#include <QString>

#include <sys/mount.h>
#include <unistd.h>

// A small tmpfs for the capture folder, where the test may mount one (as root).
class SmallTmpfs final
{
public:
    SmallTmpfs(const QString &path, bool wanted) : m_path(QFile::encodeName(path))
    {
        m_mounted = wanted && ::geteuid() == 0 && ::mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallTmpfs()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs &) = delete;
    SmallTmpfs &operator=(const SmallTmpfs &) = delete;

    [[nodiscard]] bool isMounted() const { return m_mounted; }
    bool makeReadOnly()
    {
        return ::mount("tmpfs", m_path.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m") == 0;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

#endif
