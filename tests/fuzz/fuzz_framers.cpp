// The frame splitter: any bytes in any chunking split without a crash; the frames are pieces
// of the input in order; framed, skipped, unexamined and waiting bytes account for every
// byte; nothing held or framed exceeds the bound; notes and summaries are one line. The
// length-framed protocols split the same whatever the chunking.

#include "acknowledgement.h"
#include "framesplitter.h"
#include "fuzzinput.h"

#include <QList>

namespace {

struct Split
{
    QList<TrackerFrame> frames;
    qsizetype framed = 0;
    qsizetype skipped = 0;
    qsizetype unexamined = 0;
    qsizetype waiting = 0;
};

bool isOneLine(const QString &text)
{
    return !text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QLatin1Char('\n'));
}

// Chunk lengths from a small generator seeded by the input, from 1 to `longest` bytes; with
// `longest` 0 the input is one chunk.
Split split(const ProtocolChoice &choice, const QByteArray &input, quint32 seed, qsizetype longest)
{
    FrameSplitter splitter(choice);
    Split result;
    for (qsizetype at = 0; at < input.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype length =
            longest == 0 ? input.size()
                         : std::min(input.size() - at, qsizetype(1 + (seed >> 8) % quint32(longest)));
        const FrameSplitter::Result fed = splitter.feed(QByteArrayView(input).sliced(at, length));
        at += length;
        require(isOneLine(fed.note()), "a note is one line");
        require(fed.waiting <= FrameSplitter::BufferLimit, "at most the bound waits");
        for (const TrackerFrame &frame : fed.frames) {
            require(!frame.bytes.isEmpty() && frame.bytes.size() <= FrameSplitter::BufferLimit,
                    "a frame is within the bound");
            require(isOneLine(frame.summary()), "a summary is one line");
            require(!choice.protocol || choice.autoDetect || frame.protocol == *choice.protocol,
                    "a chosen protocol is the only one");
            require(frame.intact() || acknowledgement(frame).isEmpty(), "a broken frame gets no answer");
            result.framed += frame.bytes.size();
        }
        result.frames += fed.frames;
        result.skipped += fed.skipped;
        result.unexamined += fed.unexamined;
        result.waiting = fed.waiting;
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // The first byte picks detection or a protocol, the next two the chunking.
    const ProtocolChoice choice =
        data[0] % 8 == 7 ? ProtocolChoice::detect() : ProtocolChoice::only(AllTrackerProtocols[data[0] % 8]);
    const quint32 seed = data[1];
    const qsizetype longest = 1 + data[2] % 64 * (data[2] >= 128 ? 1024 : 1);
    const QByteArray input(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));

    const Split chunked = split(choice, input, seed, longest);
    require(chunked.framed + chunked.skipped + chunked.unexamined + chunked.waiting == input.size(),
            "every byte is framed, skipped, unexamined or waiting");
    qsizetype cursor = 0;
    for (const TrackerFrame &frame : chunked.frames) {
        const qsizetype at = input.indexOf(frame.bytes, cursor);
        require(at >= 0, "the frames are pieces of the input in order");
        cursor = at + frame.bytes.size();
    }

    const bool lengthFramed = !choice.autoDetect && (*choice.protocol == TrackerProtocol::Teltonika ||
                                                     *choice.protocol == TrackerProtocol::GT06 ||
                                                     *choice.protocol == TrackerProtocol::Meitrack);
    if (lengthFramed) {
        const Split whole = split(choice, input, 0, 0);
        require(whole.frames.size() == chunked.frames.size(),
                "length-framed protocols: chunking changes nothing");
        for (qsizetype i = 0; i < whole.frames.size(); ++i)
            require(whole.frames.at(i).bytes == chunked.frames.at(i).bytes,
                    "the same frames whatever the chunking");
    }
    return 0;
}
