#ifndef GPSA_MEMORYTUNING_H
#define GPSA_MEMORYTUNING_H

// Keeps large freed buffers in the process for reuse instead of handing them back to the
// system after every chunk. A chunk of a mebibyte renders into pane lines of several, and
// with the C library's defaults each chunk would pay again for fresh zeroed pages: a
// flood of tracker data then spends more time in page faults than in its own work. Memory
// kept this way stays bounded by the largest chunk's lines. Call once at start-up; does
// nothing where the C library offers no such setting.
void keepLargeBuffersForReuse();

#endif
