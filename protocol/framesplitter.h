#ifndef GPSA_FRAMESPLITTER_H
#define GPSA_FRAMESPLITTER_H

#include "trackerframe.h"
#include "trackerprotocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace Framing {
struct ProtocolFraming;
}

// Splits one tracker connection's byte stream into the frames of its protocol: a frame may
// span chunks, and a chunk may hold several frames. Bytes that fit no frame are skipped up to
// the next byte that can begin one (resynchronisation). With detection, the first frame that
// fits a protocol fixes the protocol for the connection; a chosen protocol is the only one
// tried. Each byte is looked at a bounded number of times, and no regular expressions run.
class FrameSplitter final
{
public:
    // No frame is longer, and at most this many bytes are held for a partial frame.
    static constexpr qsizetype BufferLimit = 64 * 1024;
    // With detection, after this many bytes skipped without finding a protocol the splitter
    // stops looking: the connection carries no protocol it knows.
    static constexpr qsizetype DetectionLimit = 16 * 1024;

    // What one chunk gave. Every byte fed is counted once: in a frame, as skipped, as
    // unexamined, or as waiting until a later chunk completes or skips it.
    struct Result
    {
        std::vector<TrackerFrame> frames;
        // Bytes passed over: line ends between frames and bytes that fit no frame.
        qsizetype skipped = 0;
        // Some of the skipped bytes were more than line ends: the stream was resynchronised.
        bool resynchronised = false;
        // Bytes held for a partial frame once this chunk was split.
        qsizetype waiting = 0;
        // Bytes not looked at, because detection stopped.
        qsizetype unexamined = 0;
        // Detection stopped with this chunk.
        bool detectionStopped = false;
        // Some frame's checksum does not match; some Teltonika packet's record counts differ.
        bool badChecksum = false;
        bool countsDiffer = false;

        // A note for the session index, free of tabs and line ends, empty when the chunk gave
        // nothing to say: the single frame's summary or "N frames"; "partial frame" while
        // bytes wait; "bad checksum"; "record counts differ"; the resynchronisation with the
        // count of skipped bytes; the end of detection.
        [[nodiscard]] QString note() const;
        // Forgets the frames and lets go of their bytes; the list keeps its room.
        void clear();

        // The bytes the frames lie in: the chunk, shared, and the held bytes joined to it.
        QByteArray chunk;
        QByteArray joined;
    };

    // A stream's frames may span chunks; each datagram holds whole frames, and bytes left at
    // its end that begin a frame are skipped, not held for the next datagram.
    enum class Transport { Stream, Datagram };

    // A choice with neither detection nor a protocol detects.
    explicit FrameSplitter(ProtocolChoice choice, Transport transport = Transport::Stream);

    // The frames lie in the chunk's bytes, which the result shares; a view is copied first.
    [[nodiscard]] Result feed(const QByteArray &chunk);
    [[nodiscard]] Result feed(QByteArrayView chunk) { return feed(chunk.toByteArray()); }
    // The same into a result of the caller's, emptied first: its list of frames keeps its room
    // from one chunk to the next.
    void feed(const QByteArray &chunk, Result &result);

    // The chosen or detected protocol; nothing while detection goes on or after it stopped.
    [[nodiscard]] std::optional<TrackerProtocol> protocol() const { return m_protocol; }
    // The device identifier the connection's frames last carried (a Teltonika connection's
    // IMEI from its handshake, for one); empty before any.
    [[nodiscard]] QString deviceId() const { return m_deviceId; }

private:
    struct Fitting;
    [[nodiscard]] Fitting fitAt(QByteArrayView data) const;
    [[nodiscard]] Fitting detectAt(QByteArrayView data) const;
    [[nodiscard]] qsizetype nextStart(QByteArrayView data, qsizetype from) const;
    void fixProtocol(TrackerProtocol protocol);
    void takeFrame(TrackerProtocol protocol, QByteArrayView bytes, Result &result);
    // Splits data from position on while the position is before until; returns where it
    // stopped: at until or after, or at a partial frame.
    qsizetype split(QByteArrayView data, qsizetype position, qsizetype until, Result &result);

    std::optional<TrackerProtocol> m_protocol;
    // The chosen or detected protocol's framing, asked for every frame.
    const Framing::ProtocolFraming *m_framing = nullptr;
    bool m_stopped = false;
    bool m_datagram = false;
    qsizetype m_skippedWhileDetecting = 0;
    bool m_teltonikaPing = false;
    qsizetype m_h02BinaryLength = 0;
    // The bytes that can begin a frame of the protocols still tried.
    std::array<bool, 256> m_startBytes{};
    QByteArray m_held;
    QString m_deviceId;
};

#endif
