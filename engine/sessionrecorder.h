#ifndef GPSA_SESSIONRECORDER_H
#define GPSA_SESSIONRECORDER_H

#include <QByteArray>
#include <QString>

#include <chrono>

// One event of a capture run, as the session index records it. What each kind carries:
//   Listen      port = IN port; note "relay to HOST:PORT" when relaying, with " per tracker"
//               when each tracker relays over a connection of its own; else empty
//   Connect     peer = tracker, port = IN port; note "local IP:PORT", the address it connected to
//   Declined    peer of the refused request when known
//   In          number, peer, port, length, file (.dat), note
//   Out         number, peer = OUT server, port = OUT port, length, file; on a tracker's own
//               relay, peer = the tracker and note "from HOST:PORT local IP:PORT"
//   Cmd, Ack    peer = tracker, port = IN port, length, bytes
//   Pass        an OUT-server answer passed on to the tracker: number and file of its Out capture,
//               length, peer = tracker
//   Error       number, peer, port, file (the _err log), note "NNNNN description"
//   Disconnect  peer, port
//   Mirror      a mirror server's answer: number, peer = tracker, port = the mirror's port,
//               length, file, note "from HOST:PORT local IP:PORT"
//   UdpPeer     the first datagram of a tracker over UDP: peer, port = IN port, note "udp local IP:PORT"
//   UdpQuiet    a UDP peer forgotten after its idle time: peer, port, note "udp"
// A UDP peer's own events (In, Cmd, Ack, Pass) have notes beginning "udp"; the answers to it
// (Out) "udp from HOST:PORT local IP:PORT", the server and the peer's own socket towards it.
// When relaying, every In chunk also went to the OUT server, in order, right after its capture
// (and after any Cmd or Ack of that chunk).
struct SessionEvent
{
    enum class Kind {
        Listen, Connect, Declined, In, Out, Cmd, Ack, Pass, Error, Disconnect, Mirror, UdpPeer, UdpQuiet
    };
    Kind kind = Kind::In;
    qint64 timeUs = 0;    // UTC, microseconds since 1970, taken when the event's bytes were read or sent
    qint32 number = 0;    // the capture number the event used (captures and error logs); 0: none
    QString peer;         // "127.0.0.1:40312": the tracker, or the OUT server for Out events of the one relay
    int port = 0;         // the local port as in the capture file names: the IN port, the OUT port for Out
    qint64 length = -1;   // bytes; -1: none
    QString file;         // the data file or error log, name only ("x0001_5000.dat")
    QByteArray bytes;     // what was sent to the tracker (Cmd, Ack); written as hex
    QString note;         // frame summary ("GT06 login", "2 frames", "partial frame", "bad checksum"), or as below
};

// An event of the kind at the time, its other fields to be filled in.
[[nodiscard]] inline SessionEvent sessionEvent(SessionEvent::Kind kind, qint64 timeUs)
{
    SessionEvent event;
    event.kind = kind;
    event.timeUs = timeUs;
    return event;
}

// Takes every event of a run; a failure to record throws a PlatformError, which ends the run like a
// failed capture file.
class SessionRecorder
{
public:
    virtual ~SessionRecorder() = default;
    virtual void record(const SessionEvent &event) = 0;
};

// The current time for SessionEvent::timeUs.
[[nodiscard]] inline qint64 sessionClockUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

#endif
