#include "acknowledgement.h"

#include "framing.h"

#include <algorithm>
#include <cstring>

namespace {

inline QByteArray answerTo(const TrackerFrame &frame)
{
    if (!frame.intact() || frame.bytes.isEmpty())
        return {};
    return Framing::framingOf(frame.protocol, frame.datagram).acknowledge(frame);
}

} // namespace

QByteArray acknowledgement(const TrackerFrame &frame)
{
    return answerTo(frame);
}

Acknowledgements acknowledgements(std::span<const TrackerFrame> frames)
{
    // A chunk may hold thousands of frames with a few bytes of answer each: they are copied
    // into room made ahead, not appended one by one.
    Acknowledgements result;
    qsizetype used = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const QByteArray answer = answerTo(frames[i]);
        if (answer.isEmpty())
            continue;
        // Room for an answer of this size to each frame left, or twice the room so far.
        if (used + answer.size() > result.bytes.size()) {
            const qsizetype left = qsizetype(frames.size() - i) * answer.size();
            result.bytes.resize(std::max(used + left, 2 * result.bytes.size()));
        }
        std::memcpy(result.bytes.data() + used, answer.constData(), size_t(answer.size()));
        used += answer.size();
        if (result.answered++ == 0)
            result.first = qsizetype(i);
    }
    result.bytes.truncate(used);
    return result;
}
