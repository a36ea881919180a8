#include "memorytuning.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void keepLargeBuffersForReuse()
{
#if defined(__GLIBC__)
    // Buffers up to 32 MiB come from the heap, not from a mapping of their own that is
    // unmapped on release; the heap's top is handed back only past 64 MiB of free space.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}
