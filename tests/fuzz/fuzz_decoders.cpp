// The decoders: any bytes, framed by the splitter (as a stream and as a datagram) or taken whole as
// one frame of any protocol,
// decode without a crash and without reading past the frame (the sanitizers watch); a frame gives
// records or a reason, never both; every line written of it is one line, and every coordinate
// and measure a finite number, every position on the globe.

#include "framedecoder.h"
#include "framesplitter.h"
#include "fuzzinput.h"
#include "positiontext.h"

#include <cmath>

namespace {

void check(const TrackerFrame &frame)
{
    DecodedFrame decoded;
    decodeFrame(frame, decoded);
    require(decoded.reason.isEmpty() || decoded.records().empty(), "records or a reason, never both");
    QByteArray lines;
    for (const PositionRecord &record : decoded.records()) {
        for (const auto &value : {record.latitude, record.longitude, record.altitudeM, record.speedKmh, record.courseDeg})
            require(!value || std::isfinite(*value), "measures are finite");
        require(std::abs(record.latitude.value_or(0)) <= 90 && std::abs(record.longitude.value_or(0)) <= 180,
                "a position is on the globe");
        PositionText::appendPositionLine(lines, "P", "D", record);
    }
    PositionText::appendFrameLine(lines, "P", "D", frame.kind.toLatin1(), decoded);
    require(!lines.contains('\r') && !lines.contains('\n'), "a decoded line is one line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const TrackerProtocol protocol = AllTrackerProtocols[data[0] % std::size(AllTrackerProtocols)];
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    for (const auto transport : {FrameSplitter::Transport::Stream, FrameSplitter::Transport::Datagram}) {
        FrameSplitter splitter(ProtocolChoice::only(protocol), transport);
        FrameSplitter::Result split = splitter.feed(input);
        // Every frame as if its checksum held, so that the content behind a CRC is reached too.
        for (TrackerFrame &frame : split.frames) {
            frame.checksumOk = frame.countsAgree = true;
            check(frame);
        }
        for (const char *kind : {"IMEI", "login", "heartbeat", "location"}) {
            TrackerFrame whole(protocol, input);
            whole.kind = QString::fromLatin1(kind);
            whole.datagram = transport == FrameSplitter::Transport::Datagram;
            check(whole);
        }
    }
    return 0;
}
