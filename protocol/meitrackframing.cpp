// Meitrack trackers (MEITRACK GPRS Protocol): "$$", a data identifier (one character from
// 0x41 to 0x7A), the decimal data length, then ",<IMEI>,<command>,...*<checksum>\r\n". The
// length counts every byte from the comma after it up to and including the CR LF; the
// checksum is the sum modulo 256 of every byte from "$$" up to and including the '*', as two
// hexadecimal digits. The data may be binary (the CCC and CCE buffered reports), so only the
// length finds the frame's end. The document defines no answer of the server to a report:
// the frames the server sends ("@@...") are commands.

#include "checksums.h"
#include "framing.h"

namespace Framing {

namespace {

// The widest decimal length that a frame within MaximumFrame needs.
constexpr qsizetype MaximumLengthDigits = 5;
// The smallest data: a comma, '*', two checksum digits, CR LF.
constexpr qsizetype MinimumData = 6;
// The '*', two checksum digits and CR LF at the end.
constexpr qsizetype Trailer = 5;

FrameFit fitMeitrack(QByteArrayView data, const FramingContext &)
{
    if (compareStart(data, "$$") < 0)
        return none();
    if (data.size() < 3)
        return partial();
    if (data[2] < 0x41 || data[2] > 0x7A)
        return none();
    qsizetype comma = 3;
    while (comma < data.size() && comma - 3 < MaximumLengthDigits && isDigit(data[comma]))
        ++comma;
    if (comma == data.size())
        return comma - 3 < MaximumLengthDigits ? partial() : none();
    if (comma == 3 || data[comma] != ',')
        return none();
    const qsizetype dataLength = QByteArrayView(data.sliced(3, comma - 3)).toLongLong();
    const qsizetype length = comma + dataLength;
    if (dataLength < MinimumData || length > MaximumFrame)
        return none();
    if (data.size() < length)
        return partial();
    if (data[length - Trailer] != '*' || data[length - 2] != '\r' || data[length - 1] != '\n')
        return none();
    return whole(length);
}

void describeMeitrack(QByteArrayView frame, TrackerFrame &out)
{
    const qsizetype star = frame.size() - Trailer;
    out.checksumOk = hexByteAt(frame, star + 1) == meitrackChecksum(frame.first(star + 1));
    const QByteArrayView body = frame.first(star);
    const QByteArrayView command = field(body, 2);
    out.deviceId = printableText(field(body, 1));
    out.message = printableText(command);
    const bool report = command == "AAA" || command == "CCC" || command == "CCE";
    out.kind = report ? QStringLiteral("location") : QStringLiteral("response");
}

QByteArray acknowledgeMeitrack(const TrackerFrame &)
{
    return {};
}

} // namespace

const ProtocolFraming MeitrackFraming{fitMeitrack, describeMeitrack, acknowledgeMeitrack, "$"};

} // namespace Framing
