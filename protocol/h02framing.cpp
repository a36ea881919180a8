// H02 trackers (Sinotrack and many others): text reports "*HQ,<device id>,<type>,...#", and
// binary location reports that begin with '$', the device id as 5 BCD bytes, the time and
// the date in BCD, and that are 32 bytes long, or 45 on devices that append cell data. The
// binary frame has neither a terminator nor a checksum, so a connection's first binary
// frame shows its length by what follows it: the next frame's '$' or '*' after 32 bytes.

#include "framing.h"

#include <algorithm>

namespace Framing {

namespace {

constexpr qsizetype MaximumText = 1024;
constexpr std::string_view TextStart[] = {"*"};
constexpr qsizetype ShortBinary = 32;
constexpr qsizetype LongBinary = 45;

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A BCD byte of two decimal digits from `least` to `most`.
bool isBcd(quint8 byte, int least = 0, int most = 99)
{
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    return high <= 9 && low <= 9 && high * 10 + low >= least && high * 10 + low <= most;
}

// The device id, then hours, minutes, seconds, day, month and year as BCD after the '$'.
bool binaryStartFits(QByteArrayView data)
{
    static constexpr int least[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0};
    static constexpr int most[] = {99, 99, 99, 99, 99, 23, 59, 59, 31, 12, 99};
    const qsizetype count = std::min(data.size() - 1, qsizetype(std::size(least)));
    for (qsizetype i = 0; i < count; ++i) {
        if (!isBcd(byteAt(data, i + 1), least[i], most[i]))
            return false;
    }
    return true;
}

FrameFit fitH02(QByteArrayView data, const FramingContext &context)
{
    if (data[0] == '*') {
        for (qsizetype i = 1; i < std::min(data.size(), qsizetype(3)); ++i) {
            if (!isLetter(data[i]))
                return none();
        }
        if (data.size() > 3 && data[3] != ',')
            return none();
        return data.size() < 4 ? partial() : textUpTo(data, 4, '#', MaximumText, TextStart);
    }
    if (data[0] != '$' || !binaryStartFits(data))
        return none();
    qsizetype length = context.h02BinaryLength;
    if (length == 0) {
        if (data.size() > ShortBinary && (data[ShortBinary] == '$' || data[ShortBinary] == '*'))
            length = ShortBinary;
        else if (data.size() >= LongBinary)
            length = LongBinary;
        else
            return partial();
    }
    return data.size() < length ? partial() : whole(length);
}

QString kindOf(QByteArrayView type)
{
    static const QList<QByteArrayView> locations{"V1", "V2", "VI1", "VP1", "V19", "V3", "NBR"};
    if (locations.contains(type))
        return QStringLiteral("location");
    if (type == "HTBT" || type == "LINK")
        return QStringLiteral("heartbeat");
    if (type == "V4")
        return QStringLiteral("response");
    return QStringLiteral("message");
}

void describeH02(QByteArrayView frame, TrackerFrame &out)
{
    if (frame[0] == '$') {
        out.kind = QStringLiteral("location");
        out.message = QStringLiteral("binary");
        out.deviceId = QString::fromLatin1(frame.sliced(1, 5).toByteArray().toHex());
        return;
    }
    const QByteArrayView body = textBody(frame);
    const QByteArrayView type = field(body, 2);
    out.kind = kindOf(type);
    out.message = printableText(type);
    out.deviceId = printableText(field(body, 1));
}

// A heartbeat "*HQ,<id>,HTBT,...#" is answered "*HQ,<id>,HTBT#".
QByteArray acknowledgeH02(const TrackerFrame &frame)
{
    const QByteArrayView body = textBody(frame.bytes);
    if (body.size() < 4 || body[0] != '*' || field(body, 2) != "HTBT")
        return {};
    return body.first(3).toByteArray() + ',' + field(body, 1).toByteArray() + ",HTBT#";
}

} // namespace

const ProtocolFraming H02Framing{fitH02, describeH02, acknowledgeH02, "*$"};

} // namespace Framing
