#include "processlimits.h"

#include <limits>

#ifdef Q_OS_WIN

qint64 raiseDescriptorLimit()
{
    return std::numeric_limits<qint64>::max();
}

#else
#include <sys/resource.h>

qint64 raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(limit.rlim_cur);
}

#endif
