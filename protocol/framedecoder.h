#ifndef GPSA_FRAMEDECODER_H
#define GPSA_FRAMEDECODER_H

#include "positionrecord.h"
#include "trackerframe.h"

// Decodes an intact frame of any of the protocols into its records and fields, clearing `out`
// first: pure, it never reads past the frame and never throws; what it cannot read becomes the
// reason ("record 3 of 4 cut short", "no layout known for GT06 message 0x94"). A frame that is
// not intact gives the reason "not intact".
void decodeFrame(const TrackerFrame &frame, DecodedFrame &out);

#endif
