#ifndef GPSA_PROCESSLIMITS_H
#define GPSA_PROCESSLIMITS_H

#include <QtGlobal>

// Lets this process have as many descriptors as the system allows it (a thousand connections
// need more than the usual soft limit of 1024). Returns the limit now in force, -1 when it
// cannot be read. Windows counts no sockets against such a limit: there it is unbounded.
qint64 raiseDescriptorLimit();

#endif
