#include "capturepositions.h"

#include "framedecoder.h"
#include "framesplitter.h"
#include "sessionerror.h"
#include "sessionindex.h"

#include <QDir>
#include <QSet>

#include <functional>
#include <memory>

namespace {

// A tracker chunk of a session, its bytes read when its turn comes.
struct Chunk
{
    qint32 number = 0;
    qint64 timeUs = -1;
    QString peer;
    std::function<QByteArray()> bytes;
};
// Its chunks, and whether they came as datagrams (a UDP peer's), each holding whole frames.
struct Session : QList<Chunk>
{
    bool datagrams = false;
};

// The sessions of index.tsv, or without one each run of consecutive captures: the index made up
// from the files leaves out the error logs before its last capture, so a gap in the numbers is
// where one stood. Made-up times and addresses are not the capture's: they are left empty.
QList<Session> sessionsOf(const QString &folder)
{
    const auto index = std::make_shared<const SessionIndex>(SessionIndex::read(folder));
    const bool timed = index->isTimed();
    QList<Session> sessions;
    for (const RecordedSession &recorded : index->sessions()) {
        sessions.emplace_back();
        sessions.last().datagrams = index->events()[recorded.connect].event.kind == SessionEvent::Kind::UdpPeer;
        qint32 previous = 0;
        for (const qsizetype e : recorded.events) {
            const RecordedEvent &event = index->events()[e];
            const SessionEvent &captured = event.event;
            if (captured.number == 0)
                continue;
            if (!timed && previous != 0 && captured.number != previous + 1 && !sessions.last().isEmpty())
                sessions.emplace_back();
            previous = captured.number;
            if (captured.kind == SessionEvent::Kind::In)
                sessions.last().append({captured.number, timed ? captured.timeUs : -1,
                                        timed ? captured.peer : QString(),
                                        [index, &event] { return index->bytesOf(event); }});
        }
        if (!timed && sessions.last().isEmpty())
            sessions.removeLast();
    }
    return sessions;
}

void decodeSession(const Session &session, const ProtocolChoice &choice, CapturePositions &out)
{
    FrameSplitter splitter(choice, session.datagrams ? FrameSplitter::Transport::Datagram
                                                     : FrameSplitter::Transport::Stream);
    FrameSplitter::Result split;
    DecodedFrame decoded;
    QString device;
    for (const Chunk &chunk : session) {
        splitter.feed(chunk.bytes(), split);
        ++out.chunks;
        for (const TrackerFrame &frame : split.frames) {
            device = frame.deviceId.isEmpty() ? device : frame.deviceId;
            decodeFrame(frame, decoded);
            out.notDecoded += decoded.reason.isEmpty() ? 0 : 1;
            for (const PositionRecord &record : decoded.records())
                out.rows.append({chunk.number, chunk.timeUs, chunk.peer, device, frame.protocol, frame.kind, record});
        }
    }
}

} // namespace

CapturePositions CapturePositions::read(const QString &folder, int session, std::optional<ProtocolChoice> protocol)
{
    const QList<Session> sessions = sessionsOf(folder);
    if (session > sessions.size())
        throw SessionError(QStringLiteral("%1 holds %2 tracker sessions, not %3.")
                               .arg(QDir::toNativeSeparators(folder))
                               .arg(sessions.size())
                               .arg(session));
    CapturePositions positions;
    for (qsizetype i = 0; i < sessions.size(); ++i) {
        if (session == 0 || session == i + 1)
            decodeSession(sessions[i], protocol.value_or(ProtocolChoice::detect()), positions);
    }
    return positions;
}

qsizetype CapturePositions::devices() const
{
    QSet<QString> devices;
    for (const PositionRow &row : rows) {
        if (!row.device.isEmpty())
            devices.insert(row.device);
    }
    return devices.size();
}
