#include "sessionindex.h"

#include "sessionerror.h"
#include "sessionindexfile.h"
#include "sessionindexline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>

using Kind = SessionEvent::Kind;

SessionIndex SessionIndex::read(const QString &folder, int inPort)
{
    if (!QFileInfo(folder).isDir())
        throw SessionError(QStringLiteral("The capture folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
    SessionIndex index;
    index.m_folder = folder;
    QFile file(QDir(folder).filePath(SessionIndexFile::FileName));
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw SessionError(QStringLiteral("%1 cannot be read: %2")
                                   .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
        index.parse(file.readAll());
    } else {
        index.readCaptureFiles(inPort);
    }
    index.group();
    return index;
}

void SessionIndex::parse(const QByteArray &text)
{
    const QString path = QDir::toNativeSeparators(QDir(m_folder).filePath(SessionIndexFile::FileName));
    int lineNumber = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = QByteArrayView(text).sliced(start, end - start);
        start = end + 1;
        ++lineNumber;
        // The header starts every run's file; blank lines are left by hand edits.
        if (line.isEmpty() || line == SessionIndexLine::Header)
            continue;
        try {
            m_events.append({SessionIndexLine::parse(line), lineNumber});
        } catch (const SessionError &error) {
            throw SessionError(QStringLiteral("%1 line %2: %3.").arg(path).arg(lineNumber).arg(error.message()));
        }
    }
}

namespace {

// A session ends with its tracker's disconnect, its error, or a UDP peer's going quiet.
bool endsSession(SessionEvent::Kind kind)
{
    return kind == SessionEvent::Kind::Disconnect || kind == SessionEvent::Kind::Error ||
           kind == SessionEvent::Kind::UdpQuiet;
}

struct CaptureFile
{
    QString file;
    int port = 0;
    bool error = false;
};

// The data files and error logs of a folder, by number.
QMap<qint32, CaptureFile> captureFiles(const QString &folder)
{
    static const QRegularExpression captureName(QStringLiteral("^x(\\d+)_(err)?(\\d+)\\.(dat|log)$"));
    QMap<qint32, CaptureFile> captures;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = captureName.match(name);
        const bool error = match.hasMatch() && !match.capturedView(2).isEmpty();
        if (!match.hasMatch() || error != (match.capturedView(4) == QLatin1StringView("log")))
            continue;
        captures.insert(match.capturedView(1).toInt(), {name, match.capturedView(3).toInt(), error});
    }
    return captures;
}

} // namespace

void SessionIndex::readCaptureFiles(int inPort)
{
    m_timed = false;
    const QMap<qint32, CaptureFile> captures = captureFiles(m_folder);
    for (auto c = captures.cbegin(); inPort == 0 && c != captures.cend(); ++c)
        inPort = c->error ? c->port : 0;
    if (inPort == 0 && !captures.isEmpty())
        inPort = captures.first().port;
    int outPort = 0;
    for (const CaptureFile &c : captures)
        outPort = outPort == 0 && c.port != inPort ? c.port : outPort;

    const QString tracker = FallbackTracker;
    const QString outServer = QStringLiteral("%1:%2").arg(FallbackOutServer).arg(outPort);
    const auto add = [this](Kind kind, qint64 second, const QString &peer, int port, const QString &note) {
        SessionEvent event;
        event.kind = kind;
        event.timeUs = second * 1'000'000;
        event.peer = peer;
        event.port = port;
        event.note = note;
        m_events.append({event, 0});
        return &m_events.last().event;
    };
    add(Kind::Listen, 0, QString(), inPort, outPort == 0 ? QString() : QStringLiteral("relay to ") + outServer);
    add(Kind::Connect, 0, tracker, inPort, QStringLiteral("local %1:%2").arg(FallbackAnalyzer).arg(inPort));
    qint64 second = 0;
    for (auto c = captures.cbegin(); c != captures.cend(); ++c) {
        // Only the last capture's error ends the one session; earlier ones are left out.
        if (c->error && std::next(c) != captures.cend())
            continue;
        ++second;
        if (c->error) {
            QFile log(QDir(m_folder).filePath(c->file));
            const QString description =
                log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll().trimmed()) : QString();
            SessionEvent *event = add(Kind::Error, second, tracker, c->port, description);
            event->number = c.key();
            event->file = c->file;
            return;
        }
        const bool in = c->port == inPort;
        SessionEvent *event = add(in ? Kind::In : Kind::Out, second, in ? tracker : outServer, c->port, QString());
        event->number = c.key();
        event->file = c->file;
        event->length = QFileInfo(QDir(m_folder).filePath(c->file)).size();
    }
    add(Kind::Disconnect, second + 1, tracker, inPort, QString());
}

void SessionIndex::group()
{
    OpenSessions open;
    QList<qsizetype> early; // events of a connection whose connect line is still to come
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        const SessionEvent &event = m_events[i].event;
        switch (event.kind) {
        case Kind::Listen: {
            const QString relay = event.note.startsWith(QLatin1StringView("relay to "))
                                      ? event.note.mid(9).trimmed()
                                      : QString();
            m_runs.append({event.port, relay.section(QLatin1Char(' '), 0, 0),
                           relay.endsWith(QLatin1StringView(" per tracker")), event.timeUs, {}});
            open = {};
            early.clear();
            break;
        }
        case Kind::Connect:
        case Kind::UdpPeer:
            openSession(i, early, open);
            break;
        case Kind::Declined:
            break;
        case Kind::In:
        case Kind::Out:
        case Kind::Cmd:
        case Kind::Ack:
        case Kind::Pass:
        case Kind::Error:
        case Kind::Disconnect:
        case Kind::Mirror:
        case Kind::UdpQuiet:
            addToSession(i, open, early);
            break;
        }
    }
    for (RecordedSession &session : m_sessions) {
        session.startUs = session.endUs = m_events[session.connect].event.timeUs;
        for (const qsizetype e : std::as_const(session.events)) {
            session.startUs = std::min(session.startUs, m_events[e].event.timeUs);
            session.endUs = std::max(session.endUs, m_events[e].event.timeUs);
        }
    }
}

RecordedRun &SessionIndex::currentRun(const SessionEvent &event)
{
    if (m_runs.isEmpty())
        m_runs.append({0, QString(), false, event.timeUs, {}});
    RecordedRun &run = m_runs.last();
    if (run.inPort == 0 && event.kind != Kind::Out)
        run.inPort = event.port;
    return run;
}

void SessionIndex::openSession(qsizetype connect, QList<qsizetype> &early, OpenSessions &open)
{
    const SessionEvent &event = m_events[connect].event;
    currentRun(event);
    m_sessions.append({m_runs.size() - 1, connect, {}, 0, 0});
    RecordedSession &session = m_sessions.last();
    bool ended = false;
    const auto taken = [&](qsizetype e) {
        const SessionEvent &earlier = m_events[e].event;
        if (earlier.kind != Kind::Out && earlier.peer != event.peer)
            return false;
        session.events.append(e);
        ended = ended || endsSession(earlier.kind);
        return true;
    };
    early.removeIf(taken);
    open.latest = ended ? -1 : m_sessions.size() - 1;
    if (!ended)
        open.byPeer.insert(event.peer, open.latest);
}

void SessionIndex::addToSession(qsizetype index, OpenSessions &open, QList<qsizetype> &early)
{
    const SessionEvent &event = m_events[index].event;
    RecordedRun &run = currentRun(event);
    // A UDP peer's relay is its own datagrams, never the run's one connection.
    if ((event.kind == Kind::In || event.kind == Kind::Out) && !event.note.startsWith(QLatin1StringView("udp")))
        run.relay.append(index);
    qsizetype session = open.byPeer.value(event.peer, -1);
    // The one relay's answers name the server; an event without a peer is the connection's.
    if (session < 0 && (event.kind == Kind::Out || event.peer.isEmpty()))
        session = open.latest;
    if (session < 0) {
        if (event.kind != Kind::Out || !early.isEmpty())
            early.append(index);
        return;
    }
    m_sessions[session].events.append(index);
    if (endsSession(event.kind)) {
        open.byPeer.remove(m_events[m_sessions[session].connect].event.peer);
        if (open.latest == session)
            open.latest = -1;
    }
}

QByteArray SessionIndex::bytesOf(const RecordedEvent &recorded) const
{
    const SessionEvent &event = recorded.event;
    if (event.kind == Kind::Cmd || event.kind == Kind::Ack)
        return event.bytes;
    if (event.kind != Kind::In && event.kind != Kind::Out && event.kind != Kind::Pass)
        return {};
    QFile file(QDir(m_folder).filePath(event.file));
    if (event.file.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw SessionError(QStringLiteral("%1: the capture file %2 cannot be read: %3.")
                               .arg(origin(recorded), QDir::toNativeSeparators(file.fileName()),
                                    event.file.isEmpty() ? QStringLiteral("no file given") : file.errorString()));
    const qint64 size = file.size();
    if (event.length > size)
        throw SessionError(QStringLiteral("%1: the capture file %2 holds %3 bytes, fewer than the %4 recorded.")
                               .arg(origin(recorded), QDir::toNativeSeparators(file.fileName()))
                               .arg(size)
                               .arg(event.length));
    return file.read(event.length < 0 ? size : event.length);
}

QString SessionIndex::origin(const RecordedEvent &event) const
{
    const QDir folder(m_folder);
    return event.line > 0 ? QStringLiteral("%1 line %2")
                                .arg(QDir::toNativeSeparators(folder.filePath(SessionIndexFile::FileName)))
                                .arg(event.line)
                          : QDir::toNativeSeparators(folder.filePath(event.event.file));
}
