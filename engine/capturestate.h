#ifndef GPSA_CAPTURESTATE_H
#define GPSA_CAPTURESTATE_H

#include <QtGlobal>

#include <vector>

// The variables that the capture handlers share, for the life of the window.
struct CaptureState
{
    // Names the capture files; advances after each capture of a chunk or of a tracker error.
    qint32 CaptureCounter = 1;
    // Busy flags of the tracker slots. Index 0 is the template, which never carries a tracker;
    // 1 is the one slot, or the first of as many as trackers are served at once.
    std::vector<bool> SlotInUse = std::vector<bool>(2, false);
};

#endif
