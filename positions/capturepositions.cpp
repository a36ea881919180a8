#include "capturepositions.h"

#include "framedecoder.h"
#include "framesplitter.h"
#include "sessionerror.h"
#include "sessionindex.h"
#include "sessionindexfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
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
using Session = QList<Chunk>;

QList<Session> indexedSessions(const QString &folder)
{
    const auto index = std::make_shared<const SessionIndex>(SessionIndex::read(folder));
    QList<Session> sessions;
    for (const RecordedSession &recorded : index->sessions()) {
        Session &session = sessions.emplace_back();
        for (const qsizetype e : recorded.events) {
            const RecordedEvent &event = index->events()[e];
            if (event.event.kind == SessionEvent::Kind::In)
                session.append({event.event.number, event.event.timeUs, event.event.peer,
                                [index, &event] { return index->bytesOf(event); }});
        }
    }
    return sessions;
}

QList<Session> fileSessions(const QString &folder)
{
    static const QRegularExpression captureName(QStringLiteral("^x(\\d+)_(err)?(\\d+)\\.(dat|log)$"));
    struct Capture
    {
        QString file;
        int port = 0;
        bool error = false;
    };
    QMap<qint32, Capture> captures;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = captureName.match(name);
        const bool error = match.hasMatch() && !match.capturedView(2).isEmpty();
        if (match.hasMatch() && error == (match.capturedView(4) == QLatin1StringView("log")))
            captures.insert(match.capturedView(1).toInt(), {name, match.capturedView(3).toInt(), error});
    }
    // The tracker's port: that of the error logs, else that of the first capture.
    int inPort = captures.isEmpty() ? 0 : captures.first().port;
    for (const Capture &capture : std::as_const(captures))
        inPort = capture.error ? capture.port : inPort;
    QList<Session> sessions{Session{}};
    qint32 previous = 0;
    for (auto c = captures.cbegin(); c != captures.cend(); previous = c.key(), ++c) {
        if ((c->error || (previous != 0 && c.key() != previous + 1)) && !sessions.last().isEmpty())
            sessions.append(Session{});
        if (c->error || c->port != inPort)
            continue;
        const QString path = QDir(folder).filePath(c->file);
        sessions.last().append({c.key(), -1, QString(), [path] {
                                    QFile file(path);
                                    if (!file.open(QIODevice::ReadOnly))
                                        throw SessionError(QStringLiteral("%1 cannot be read: %2")
                                                               .arg(QDir::toNativeSeparators(path), file.errorString()));
                                    return file.readAll();
                                }});
    }
    if (sessions.last().isEmpty())
        sessions.removeLast();
    return sessions;
}

void decodeSession(const Session &session, const ProtocolChoice &choice, CapturePositions &out)
{
    FrameSplitter splitter(choice);
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
    if (!QFileInfo(folder).isDir())
        throw SessionError(QStringLiteral("The capture folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
    const QList<Session> sessions = QFileInfo::exists(QDir(folder).filePath(SessionIndexFile::FileName))
                                        ? indexedSessions(folder)
                                        : fileSessions(folder);
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
