#ifndef GPSA_FILESIZELIMIT_H
#define GPSA_FILESIZELIMIT_H

#include <csignal>
#include <sys/resource.h>

// Files of this process may grow to limit bytes, no further, while it lives; writing past
// it fails instead of raising a signal.
class FileSizeLimit final
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit reduced = m_saved;
        reduced.rlim_cur = limit;
        m_active = ::setrlimit(RLIMIT_FSIZE, &reduced) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    [[nodiscard]] bool isActive() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
    bool m_active = false;
};

#endif
