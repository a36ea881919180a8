// Mirrors: every tracker chunk is also sent, unchanged, to each mirror server, over a connection
// per tracker and mirror, as a device that can talk to one server only reaches a second
// platform. What a mirror answers is captured and never sent to the tracker. A mirror that is
// down, refuses, resets or stalls never holds back the tracker or the relay and never ends the
// program: it is dropped for that tracker, and tried again when the tracker next connects.

#include "captureengine.h"

#include "capturefiles.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "streamsocket.h"

void CaptureEngine::prepareMirrors()
{
    for (const QString &mirror : std::as_const(m_features.mirrors)) {
        const qsizetype colon = mirror.lastIndexOf(QLatin1Char(':'));
        try {
            m_mirrorServers.append({mirror, SocketEndpoint::resolve(mirror.left(colon)),
                                    quint16(mirror.mid(colon + 1).toUInt())});
        } catch (const PlatformError &error) {
            m_controls.appendToLog(
                QStringLiteral("Mirror %1 left out: %2.\r\n").arg(mirror, error.description()));
        }
    }
}

void CaptureEngine::openMirrors(TrackerSession &tracker)
{
    TrackerSession *owner = &tracker; // the connections end before their session does
    for (const MirrorServer &server : std::as_const(m_mirrorServers)) {
        const std::size_t mirror = tracker.mirrors.size();
        StreamSocket *stream = StreamSocket::connectTo(server.address, server.port, this);
        tracker.mirrors.push_back({server.name, server.port, stream, 0});
        connect(stream, &StreamSocket::readyRead, this,
                [this, owner, mirror] { runHandler([&] { mirrorAnswered(*owner, mirror); }); });
        connect(stream, &StreamSocket::failed, this, [this, owner, mirror](int, const QString &description) {
            runHandler([&] { dropMirror(*owner, mirror, description); });
        });
        connect(stream, &StreamSocket::peerClosed, this, [this, owner, mirror] {
            runHandler([&] { dropMirror(*owner, mirror, QStringLiteral("closed by the mirror")); });
        });
    }
}

void CaptureEngine::mirrorChunk(TrackerSession &tracker, const QByteArray &chunk)
{
    for (std::size_t i = 0; i < tracker.mirrors.size(); ++i) {
        TrackerSession::Mirror &mirror = tracker.mirrors[i];
        if (!mirror.stream) {
            mirror.missed += chunk.size();
            continue;
        }
        try {
            mirror.stream->write(chunk);
        } catch (const PlatformError &error) {
            mirror.missed += chunk.size();
            dropMirror(tracker, i, error.description());
            continue;
        }
        if (mirror.stream->bytesToWrite() > MirrorQueueLimit)
            dropMirror(tracker, i,
                       QStringLiteral("more than %1 MiB waited for it").arg(MirrorQueueLimit >> 20));
    }
}

void CaptureEngine::mirrorAnswered(TrackerSession &tracker, std::size_t mirror)
{
    StreamSocket &stream = *tracker.mirrors[mirror].stream;
    const Capture capture =
        captureChunk([&] { return stream.readAll(); }, tracker.mirrors[mirror].port,
                     tracker.tag(CaptureFiles::MirrorAsciiTag), tracker.tag(CaptureFiles::MirrorHexTag));
    if (!m_recorder)
        return;
    SessionEvent event = sessionEvent(SessionEvent::Kind::Mirror, capture.timeUs);
    event.number = capture.number;
    event.peer = tracker.peer();
    event.port = tracker.mirrors[mirror].port;
    event.length = capture.chunk.size();
    event.file = capture.file;
    event.note = streamNote(stream);
    record(event);
}

void CaptureEngine::dropMirror(TrackerSession &tracker, std::size_t mirror, const QString &reason)
{
    TrackerSession::Mirror &dropped = tracker.mirrors[mirror];
    if (!dropped.stream)
        return;
    dropped.missed += dropped.stream->bytesUnsent();
    m_controls.appendToLog(QStringLiteral("Mirror %1 dropped for tracker %2: %3.\r\n")
                               .arg(dropped.server, tracker.name(), reason));
    StreamSocket *stream = std::exchange(dropped.stream, nullptr);
    stream->disconnect(this);
    stream->close();
    stream->deleteLater();
}

void CaptureEngine::closeMirrors(TrackerSession &tracker)
{
    for (const TrackerSession::Mirror &mirror : tracker.mirrors) {
        if (mirror.missed > 0)
            m_controls.appendToLog(QStringLiteral("Mirror %1 missed %2 bytes of tracker %3.\r\n")
                                       .arg(mirror.server)
                                       .arg(mirror.missed)
                                       .arg(tracker.name()));
    }
}
