// NMEA 0183 sentences: "$", the address (talker and sentence type, "GPRMC"), the fields if any,
// "*", the XOR of every character between '$' and '*' as two hexadecimal digits, CR LF. The
// standard allows 82 characters; some receivers write longer proprietary sentences.

#include "checksums.h"
#include "framing.h"

#include <algorithm>

namespace Framing {

namespace {

constexpr qsizetype MaximumSentence = 128;
constexpr std::string_view SentenceStart[] = {"$"};
constexpr qsizetype ShortestAddress = 2;
constexpr qsizetype LongestAddress = 10;
// '*', two checksum digits, CR LF.
constexpr qsizetype Trailer = 5;

bool isAddressCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || isDigit(c);
}

FrameFit fitNmea(QByteArrayView data, const FramingContext &)
{
    if (data[0] != '$')
        return none();
    qsizetype end = 1;
    while (end < data.size() && end <= LongestAddress && isAddressCharacter(data[end]))
        ++end;
    if (end == data.size())
        return end <= LongestAddress ? partial() : none();
    if (end - 1 < ShortestAddress || (data[end] != ',' && data[end] != '*'))
        return none();
    const FrameFit upToStar = textUpTo(data, end, '*', MaximumSentence - Trailer + 1, SentenceStart);
    if (upToStar.fit != Fit::Whole)
        return upToStar;
    const qsizetype star = data.indexOf('*', end);
    const qsizetype length = star + Trailer;
    const qsizetype available = std::min(data.size(), length);
    if (available >= star + 3 && hexByteAt(data, star + 1) < 0)
        return none();
    if ((available > star + 3 && data[star + 3] != '\r') || (available > star + 4 && data[star + 4] != '\n'))
        return none();
    return available < length ? partial() : whole(length);
}

void describeNmea(QByteArrayView frame, TrackerFrame &out)
{
    const qsizetype star = frame.size() - Trailer;
    out.checksumOk = hexByteAt(frame, star + 1) == nmeaChecksum(frame.sliced(1, star - 1));
    qsizetype end = 1;
    while (isAddressCharacter(frame[end]))
        ++end;
    out.kind = QString::fromLatin1(frame.sliced(1, end - 1));
}

QByteArray acknowledgeNmea(const TrackerFrame &)
{
    return {};
}

} // namespace

const ProtocolFraming NmeaFraming{fitNmea, describeNmea, acknowledgeNmea, "$"};

} // namespace Framing
