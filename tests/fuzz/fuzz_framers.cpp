// The frame splitter: any bytes in any chunking split without a crash; the frames are pieces
// of the input in order; each chunk's framed, skipped, unexamined and newly waiting bytes
// account for every byte of it; nothing held or framed exceeds the bound; notes and
// summaries are one line. The length-framed protocols split the same whatever the chunking.
// Fed as datagrams (UDP), each chunk is split alone: nothing waits for the next.

#include "acknowledgement.h"
#include "framesplitter.h"
#include "fuzzinput.h"

#include <QList>

namespace {

bool isOneLine(const QString &text)
{
    return !text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QLatin1Char('\n'));
}

// The frames' bytes, the input fed in chunks of 1 to `longest` bytes whose lengths come from
// a small generator seeded by the input; with `longest` 0 the input is one chunk.
QList<QByteArray> split(const ProtocolChoice &choice, FrameSplitter::Transport transport, QByteArrayView input,
                        quint32 seed, qsizetype longest)
{
    FrameSplitter splitter(choice, transport);
    QList<QByteArray> frames;
    qsizetype waiting = 0;
    for (qsizetype at = 0; at < input.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype length =
            longest == 0 ? input.size()
                         : std::min(input.size() - at, qsizetype(1 + (seed >> 8) % quint32(longest)));
        const FrameSplitter::Result fed = splitter.feed(input.sliced(at, length));
        at += length;
        require(isOneLine(fed.note()), "a note is one line");
        require(fed.waiting <= FrameSplitter::BufferLimit, "at most the bound waits");
        qsizetype counted = fed.skipped + fed.unexamined + fed.waiting - waiting;
        for (const TrackerFrame &frame : fed.frames) {
            require(!frame.bytes.isEmpty() && frame.bytes.size() <= FrameSplitter::BufferLimit,
                    "a frame is within the bound");
            require(isOneLine(frame.summary()), "a summary is one line");
            require(choice.autoDetect || frame.protocol == *choice.protocol,
                    "a chosen protocol is the only one");
            require(frame.intact() || acknowledgement(frame).isEmpty(), "a broken frame gets no answer");
            counted += frame.bytes.size();
            frames += frame.bytes.toByteArray();
        }
        require(counted == length, "every byte is framed, skipped, unexamined or waiting");
        require(transport == FrameSplitter::Transport::Stream || fed.waiting == 0, "no datagram waits");
        waiting = fed.waiting;
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // The first byte picks detection or a protocol and the transport, the next two the chunking.
    const ProtocolChoice choice =
        data[0] % 8 == 7 ? ProtocolChoice::detect() : ProtocolChoice::only(AllTrackerProtocols[data[0] % 8]);
    const auto transport = (data[0] & 8) != 0 ? FrameSplitter::Transport::Datagram : FrameSplitter::Transport::Stream;
    const qsizetype longest = 1 + data[2] % 64 * (data[2] >= 128 ? 1024 : 1);
    const QByteArrayView input(data + 3, qsizetype(size - 3));

    const QList<QByteArray> chunked = split(choice, transport, input, data[1], longest);
    qsizetype cursor = 0;
    for (const QByteArray &frame : chunked) {
        cursor = input.indexOf(frame, cursor);
        require(cursor >= 0, "the frames are pieces of the input in order");
        cursor += frame.size();
    }
    const TrackerProtocol protocol = choice.protocol.value_or(TrackerProtocol::NMEA);
    const bool lengthFramed = protocol == TrackerProtocol::Teltonika || protocol == TrackerProtocol::GT06 ||
                              protocol == TrackerProtocol::Meitrack;
    if (lengthFramed && transport == FrameSplitter::Transport::Stream)
        require(split(choice, transport, input, 0, 0) == chunked, "length-framed protocols: chunking changes nothing");
    return 0;
}
