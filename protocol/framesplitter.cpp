#include "framesplitter.h"

#include "framing.h"

#include <QStringList>

using Framing::Fit;
using Framing::FrameFit;

static_assert(FrameSplitter::BufferLimit == Framing::MaximumFrame);

struct FrameSplitter::Fitting
{
    FrameFit fit;
    TrackerProtocol protocol = TrackerProtocol::NMEA;
};

FrameSplitter::FrameSplitter(ProtocolChoice choice, Transport transport)
    : m_datagram(transport == Transport::Datagram)
{
    if (!choice.autoDetect && choice.protocol) {
        fixProtocol(*choice.protocol);
        return;
    }
    for (const TrackerProtocol protocol : AllTrackerProtocols) {
        for (const char c : Framing::framingOf(protocol, m_datagram).startBytes)
            m_startBytes[quint8(c)] = true;
    }
}

void FrameSplitter::fixProtocol(TrackerProtocol protocol)
{
    m_protocol = protocol;
    m_framing = &Framing::framingOf(protocol, m_datagram);
    m_teltonikaPing = protocol == TrackerProtocol::Teltonika;
    m_startBytes.fill(false);
    for (const char c : m_framing->startBytes)
        m_startBytes[quint8(c)] = true;
}

inline FrameSplitter::Fitting FrameSplitter::fitAt(QByteArrayView data) const
{
    if (m_framing)
        return {m_framing->fit(data, {m_teltonikaPing, m_h02BinaryLength}), *m_protocol};
    return detectAt(data);
}

FrameSplitter::Fitting FrameSplitter::detectAt(QByteArrayView data) const
{
    // The first protocol with a whole frame here wins; while any protocol still sees the
    // beginning of a frame, the bytes wait for more.
    const Framing::FramingContext context{m_teltonikaPing, m_h02BinaryLength};
    Fitting found;
    for (const TrackerProtocol protocol : AllTrackerProtocols) {
        const FrameFit fit = Framing::framingOf(protocol, m_datagram).fit(data, context);
        if (fit.fit == Fit::Whole)
            return {fit, protocol};
        if (fit.fit == Fit::Partial && found.fit.fit == Fit::None)
            found = {fit, protocol};
    }
    return found;
}

qsizetype FrameSplitter::nextStart(QByteArrayView data, qsizetype from) const
{
    while (from < data.size() && !m_startBytes[quint8(data[from])])
        ++from;
    return from;
}

inline void FrameSplitter::takeFrame(TrackerProtocol protocol, QByteArrayView bytes, Result &result)
{
    if (!m_protocol)
        fixProtocol(protocol);
    if (protocol == TrackerProtocol::H02 && bytes[0] == '$')
        m_h02BinaryLength = bytes.size();
    TrackerFrame &frame = result.frames.emplace_back(protocol, bytes);
    frame.datagram = m_datagram;
    m_framing->describe(bytes, frame); // the protocol's, fixed by now
    result.badChecksum = result.badChecksum || !frame.checksumOk;
    result.countsDiffer = result.countsDiffer || !frame.countsAgree;
    if (!frame.deviceId.isEmpty())
        m_deviceId = frame.deviceId;
}

FrameSplitter::Result FrameSplitter::feed(const QByteArray &chunk)
{
    Result result;
    feed(chunk, result);
    return result;
}

void FrameSplitter::feed(const QByteArray &chunk, Result &result)
{
    result.clear();
    result.chunk = chunk;
    if (m_stopped) {
        result.unexamined = chunk.size();
        return;
    }
    qsizetype position = 0; // in the chunk
    if (!m_held.isEmpty()) {
        // The held bytes go on in the chunk: joined to as much of it as a frame can take, they
        // are split until the held ones are done with; the rest of the chunk is split where it
        // lies, not copied.
        const qsizetype held = m_held.size();
        const qsizetype joined = std::min(chunk.size(), BufferLimit);
        m_held.append(QByteArrayView(chunk).first(joined));
        const qsizetype reached = split(m_held, 0, held, result);
        if (!result.frames.empty())
            result.joined = m_held; // the frames lie in it, whatever becomes of the held bytes
        if (m_stopped) {
            result.unexamined += chunk.size() - joined;
            m_held.clear();
            return;
        }
        if (reached < held) { // a partial frame: it waits with all of the chunk
            m_held.remove(0, reached);
            m_held.append(QByteArrayView(chunk).sliced(joined));
            result.waiting = m_held.size();
            return;
        }
        m_held.clear();
        position = reached - held;
    }
    position = split(chunk, position, chunk.size(), result);
    if (m_datagram && position < chunk.size()) { // a frame cut short: no later datagram ends it
        result.skipped += chunk.size() - position;
        result.resynchronised = true;
        position = chunk.size();
    }
    if (!m_stopped)
        m_held = QByteArrayView(chunk).sliced(position).toByteArray();
    result.waiting = m_held.size();
}

qsizetype FrameSplitter::split(QByteArrayView data, qsizetype position, qsizetype until, Result &result)
{
    while (position < until) {
        const QByteArrayView rest = data.sliced(position);
        const Fitting fitting = fitAt(rest);
        if (fitting.fit.fit == Fit::Whole) {
            takeFrame(fitting.protocol, rest.first(fitting.fit.length), result);
            position += fitting.fit.length;
            continue;
        }
        if (fitting.fit.fit == Fit::Partial)
            break;
        // A line end between frames is no fault; anything else is skipped up to a byte
        // that can begin a frame.
        qsizetype next = position + 1;
        if (!Framing::isLineEnd(data[position])) {
            next = nextStart(data, next);
            result.resynchronised = true;
        }
        result.skipped += next - position;
        if (!m_protocol)
            m_skippedWhileDetecting += next - position;
        position = next;
        if (!m_protocol && m_skippedWhileDetecting >= DetectionLimit) {
            m_stopped = true;
            result.detectionStopped = true;
            result.unexamined += data.size() - position;
            position = data.size();
        }
    }
    return position;
}

void FrameSplitter::Result::clear()
{
    std::vector<TrackerFrame> room = std::move(frames);
    room.clear();
    *this = Result{};
    frames = std::move(room);
}

QString FrameSplitter::Result::note() const
{
    QStringList parts;
    if (frames.size() == 1)
        parts.append(frames.front().summary());
    else if (frames.size() > 1)
        parts.append(QStringLiteral("%1 frames").arg(qsizetype(frames.size())));
    if (waiting > 0)
        parts.append(QStringLiteral("partial frame"));
    if (badChecksum)
        parts.append(QStringLiteral("bad checksum"));
    if (countsDiffer)
        parts.append(QStringLiteral("record counts differ"));
    if (resynchronised)
        parts.append(QStringLiteral("resynchronised: %1 bytes skipped").arg(skipped));
    if (detectionStopped)
        parts.append(QStringLiteral("no known protocol found: framing stopped"));
    return parts.join(QLatin1StringView("; "));
}
