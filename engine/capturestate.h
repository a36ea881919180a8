#ifndef GPSA_CAPTURESTATE_H
#define GPSA_CAPTURESTATE_H

#include <QtGlobal>

#include <array>

// The variables that the capture handlers share, for the life of the window.
struct CaptureState
{
    // Names the capture files; advances after each capture of a chunk or of a tracker error.
    qint32 CaptureCounter = 1;
    // Busy flags of the tracker slots; only index 1 ever carries a tracker.
    std::array<bool, 2> SlotInUse{false, false};
};

#endif
