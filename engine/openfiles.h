#ifndef GPSA_OPENFILES_H
#define GPSA_OPENFILES_H

#include "capturefeatures.h"

#include <QString>

// Files a run keeps open at once: for each tracker served at once its connection, its own OUT
// connection when relaying and one per mirror, and a hundred for the rest of the program.
[[nodiscard]] qint64 openFilesNeeded(const CaptureFeatures &features, bool relay);

// Raises this process's limit of open files as far as the system lets it, and says so when the
// run still needs more ("--max-trackers 9000 needs about 18,100 open files; this system allows
// 1,024."); empty when it fits, and always with one tracker at a time.
[[nodiscard]] QString openFilesProblem(const CaptureFeatures &features, bool relay);

#endif
