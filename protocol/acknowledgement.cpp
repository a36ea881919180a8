#include "acknowledgement.h"

#include "framing.h"

QByteArray acknowledgement(const TrackerFrame &frame)
{
    if (!frame.intact() || frame.bytes().isEmpty())
        return {};
    return Framing::framingOf(frame.protocol).acknowledge(frame);
}
