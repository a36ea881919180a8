#include "pcapexport.h"

#include "pcapfile.h"
#include "sessionerror.h"
#include "sessionindex.h"
#include "tcpconversation.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace PcapExport {

namespace {

using Kind = SessionEvent::Kind;

// The address in the family of like: an IPv4 address is mapped into IPv6 when needed; an IPv6
// address stands in for no IPv4 one, and fallback (an IPv4 text) is taken instead.
QHostAddress inFamilyOf(const QHostAddress &address, const QHostAddress &like, QLatin1StringView fallback)
{
    if (address.protocol() == like.protocol())
        return address;
    if (like.protocol() == QAbstractSocket::IPv6Protocol) {
        const QHostAddress v4 = address.protocol() == QAbstractSocket::IPv4Protocol ? address : QHostAddress(fallback);
        return QHostAddress(QStringLiteral("::ffff:") + v4.toString());
    }
    return QHostAddress(fallback);
}

class Exporter final
{
public:
    explicit Exporter(const SessionIndex &index) : m_index(index) {}

    // True for a UDP peer's session: datagrams, no connection.
    [[nodiscard]] bool overUdp(const RecordedSession &session) const
    {
        return m_index.events()[session.connect].event.kind == Kind::UdpPeer;
    }

    void addSession(const RecordedSession &session)
    {
        const RecordedRun &run = m_index.runs()[session.run];
        const RecordedEvent &connect = m_index.events()[session.connect];
        if (overUdp(session)) {
            addUdpSession(session);
            return;
        }
        const TcpEndpoint tracker = endpoint(connect, connect.event.peer);
        TcpEndpoint analyzer{QHostAddress(SessionIndex::FallbackAnalyzer),
                             quint16(connect.event.port != 0 ? connect.event.port : run.inPort)};
        if (connect.event.note.startsWith(QLatin1StringView("local ")))
            analyzer = TcpPacket::parseEndpoint(connect.event.note.mid(6).trimmed()).value_or(analyzer);
        analyzer.address = inFamilyOf(analyzer.address, tracker.address, SessionIndex::FallbackAnalyzer);
        if (m_analyzerAddress.isNull())
            m_analyzerAddress = analyzer.address;

        TcpConversation stream = conversation(tracker, analyzer);
        stream.open(session.startUs);
        for (const qsizetype i : session.events) {
            const RecordedEvent &recorded = m_index.events()[i];
            const SessionEvent &event = recorded.event;
            switch (event.kind) {
            case Kind::In:
                stream.send(true, m_index.bytesOf(recorded), event.timeUs);
                break;
            case Kind::Cmd:
            case Kind::Ack:
            case Kind::Pass:
                stream.send(false, m_index.bytesOf(recorded), event.timeUs);
                break;
            case Kind::Disconnect:
                stream.close(true, event.timeUs);
                return;
            case Kind::Error:
                stream.reset(true, event.timeUs);
                return;
            default:
                break;
            }
        }
    }

    // A UDP peer's datagrams to the analyzer's port and back, at the index's times; when the run
    // relayed, the same datagrams from the peer's own socket (which the answers name) to the
    // server and the server's answers.
    void addUdpSession(const RecordedSession &session)
    {
        const RecordedRun &run = m_index.runs()[session.run];
        const RecordedEvent &first = m_index.events()[session.connect];
        const TcpEndpoint tracker = endpoint(first, first.event.peer);
        TcpEndpoint analyzer{QHostAddress(SessionIndex::FallbackAnalyzer), quint16(first.event.port)};
        if (first.event.note.startsWith(QLatin1StringView("udp local ")))
            analyzer = TcpPacket::parseEndpoint(first.event.note.mid(10).trimmed()).value_or(analyzer);
        // Bound to every address, the analyzer was reached at one the index does not name.
        if (analyzer.address.isNull() || analyzer.address == QHostAddress::AnyIPv4 ||
            analyzer.address == QHostAddress::AnyIPv6)
            analyzer.address = tracker.address.isLoopback() ? tracker.address : QHostAddress();
        analyzer.address = inFamilyOf(analyzer.address, tracker.address, SessionIndex::FallbackAnalyzer);
        std::optional<TcpEndpoint> server = TcpPacket::parseEndpoint(run.relayTo);
        std::optional<TcpEndpoint> local;
        for (const qsizetype i : session.events) {
            const QStringList note = m_index.events()[i].event.note.split(QLatin1Char(' '));
            if (m_index.events()[i].event.kind == Kind::Out && !local && note.size() == 5 &&
                note[1] == QLatin1StringView("from")) {
                server = TcpPacket::parseEndpoint(note[2]);
                local = TcpPacket::parseEndpoint(note[4]);
            }
        }
        if (server && !local)
            local = TcpEndpoint{localFor(*server), quint16(RelayPortBase + m_streams++)};
        for (const qsizetype i : session.events) {
            const RecordedEvent &recorded = m_index.events()[i];
            const SessionEvent &event = recorded.event;
            const auto datagram = [&](const TcpEndpoint &from, const TcpEndpoint &to) {
                m_packets.push_back({event.timeUs, TcpPacket::buildUdp(from, to, m_index.bytesOf(recorded))});
            };
            if (event.kind == Kind::In)
                datagram(tracker, analyzer);
            if (event.kind == Kind::Cmd || event.kind == Kind::Ack || event.kind == Kind::Pass)
                datagram(analyzer, tracker);
            if (event.kind == Kind::In && server)
                datagram(*local, *server);
            if (event.kind == Kind::Out && server)
                datagram(*server, *local);
        }
    }

    // The relay of a run: events are its in and out events, in order.
    void addRelay(qsizetype runIndex, const QList<qsizetype> &events, qint64 startUs)
    {
        const RecordedRun &run = m_index.runs()[runIndex];
        const RecordedEvent *firstOut = nullptr;
        for (const qsizetype i : events)
            if (!firstOut && m_index.events()[i].event.kind == Kind::Out)
                firstOut = &m_index.events()[i];
        if (run.relayTo.isEmpty() && !firstOut)
            return;
        TcpEndpoint server{QHostAddress(SessionIndex::FallbackOutServer),
                           quint16(run.relayTo.section(QLatin1Char(':'), -1).toUInt())};
        if (firstOut)
            server = endpoint(*firstOut, firstOut->event.peer);
        else if (const auto named = TcpPacket::parseEndpoint(run.relayTo))
            server = *named;
        const TcpEndpoint analyzer{localFor(server), quint16(RelayPortBase + runIndex)};
        addStream(analyzer, server, events, startUs, {});
    }

    // The relay of one tracker over a connection of its own: from the analyzer's end that its
    // answers name, or a port of its own, to the server; it ends as the tracker's connection does.
    void addTrackerRelay(const RecordedSession &session)
    {
        const RecordedRun &run = m_index.runs()[session.run];
        QList<qsizetype> events;
        std::optional<TcpEndpoint> server = TcpPacket::parseEndpoint(run.relayTo);
        std::optional<TcpEndpoint> local;
        for (const qsizetype i : session.events) {
            const SessionEvent &event = m_index.events()[i].event;
            if (event.kind == Kind::In || event.kind == Kind::Out)
                events.append(i);
            const QStringList note = event.note.split(QLatin1Char(' '));
            if (event.kind == Kind::Out && !local && note.size() == 4 && note[0] == QLatin1StringView("from")) {
                if (const auto from = TcpPacket::parseEndpoint(note[1]))
                    server = from;
                local = TcpPacket::parseEndpoint(note[3]);
            }
        }
        if (!server)
            return;
        const QList<qsizetype> &all = session.events;
        const Kind last = all.isEmpty() ? Kind::Connect : m_index.events()[all.last()].event.kind;
        const bool ended = last == Kind::Disconnect || last == Kind::Error;
        addStream(local.value_or(TcpEndpoint{localFor(*server), quint16(RelayPortBase + m_streams)}), *server, events,
                  session.startUs, ended ? std::optional<qint64>(session.endUs) : std::nullopt);
    }

    void addStream(const TcpEndpoint &analyzer, const TcpEndpoint &server, const QList<qsizetype> &events,
                   qint64 startUs, std::optional<qint64> closeUs)
    {
        TcpConversation stream = conversation(analyzer, server);
        stream.open(events.isEmpty() ? startUs : std::min(startUs, m_index.events()[events.first()].event.timeUs));
        for (const qsizetype i : events) {
            const RecordedEvent &recorded = m_index.events()[i];
            if (recorded.event.kind == Kind::In || recorded.event.kind == Kind::Out)
                stream.send(recorded.event.kind == Kind::In, m_index.bytesOf(recorded), recorded.event.timeUs);
        }
        if (closeUs)
            stream.close(true, *closeUs);
    }

    void writeTo(const QString &path)
    {
        // Streams were built one after the other; shown together, in the order of their times.
        std::stable_sort(m_packets.begin(), m_packets.end(),
                         [](const TimedPacket &a, const TimedPacket &b) { return a.timeUs < b.timeUs; });
        PcapFile file(path);
        for (const TimedPacket &p : m_packets)
            file.write(p.timeUs, p.packet);
        file.finish();
    }

private:
    // The analyzer's address towards a server.
    QHostAddress localFor(const TcpEndpoint &server) const
    {
        if (server.address.isLoopback())
            return server.address;
        return inFamilyOf(m_analyzerAddress.isNull() ? QHostAddress(SessionIndex::FallbackAnalyzer) : m_analyzerAddress,
                          server.address, SessionIndex::FallbackAnalyzer);
    }

    TcpEndpoint endpoint(const RecordedEvent &recorded, const QString &text) const
    {
        if (const auto parsed = TcpPacket::parseEndpoint(text))
            return *parsed;
        throw SessionError(QStringLiteral("%1: the peer '%2' is not an address and port.")
                               .arg(m_index.origin(recorded), text));
    }

    TcpConversation conversation(const TcpEndpoint &client, const TcpEndpoint &server)
    {
        // Distinct initial sequence numbers make each stream's numbers its own.
        ++m_streams;
        return TcpConversation(client, server, 0x01000000u * m_streams + 1000u, 0x80000000u + 0x00100000u * m_streams,
                               m_packets);
    }

    const SessionIndex &m_index;
    std::vector<TimedPacket> m_packets;
    QHostAddress m_analyzerAddress;
    quint32 m_streams = 0;
};

} // namespace

void write(const SessionIndex &index, int session, const QString &target)
{
    const QList<RecordedSession> &sessions = index.sessions();
    if (session < 0 || session > sessions.size())
        throw SessionError(QStringLiteral("There is no session %1: %2 holds %3.")
                               .arg(session)
                               .arg(QDir::toNativeSeparators(index.folder()))
                               .arg(sessions.size() == 1 ? QStringLiteral("1 session")
                                                         : QStringLiteral("%1 sessions").arg(sessions.size())));
    Exporter exporter(index);
    if (session == 0) {
        for (const RecordedSession &s : sessions)
            exporter.addSession(s);
        for (qsizetype r = 0; r < index.runs().size(); ++r) {
            // A run whose trackers all sent over UDP relayed nothing over its one connection.
            const bool overTcp = std::any_of(sessions.begin(), sessions.end(), [&](const RecordedSession &s) {
                return s.run == r && !exporter.overUdp(s);
            });
            if (!index.runs()[r].relayPerTracker && (overTcp || !index.runs()[r].relay.isEmpty()))
                exporter.addRelay(r, index.runs()[r].relay, index.runs()[r].startUs);
        }
        for (const RecordedSession &s : sessions)
            if (index.runs()[s.run].relayPerTracker && !exporter.overUdp(s))
                exporter.addTrackerRelay(s);
    } else if (const RecordedSession &picked = sessions[session - 1]; exporter.overUdp(picked)) {
        exporter.addSession(picked);
    } else if (index.runs()[picked.run].relayPerTracker) {
        exporter.addSession(picked);
        exporter.addTrackerRelay(picked);
    } else {
        exporter.addSession(picked);
        QList<qsizetype> relayed;
        for (const qsizetype i : picked.events)
            if (index.events()[i].event.kind == Kind::In || index.events()[i].event.kind == Kind::Out)
                relayed.append(i);
        exporter.addRelay(picked.run, relayed, picked.startUs);
    }

    QTemporaryFile temporary(QFileInfo(target).absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        throw SessionError(QStringLiteral("%1 cannot be written: %2.")
                               .arg(QDir::toNativeSeparators(target), temporary.errorString()));
    temporary.close(); // the name stays taken; libpcap writes the file by its name
    exporter.writeTo(temporary.fileName());
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(temporary.fileName()).toStdString(),
                            QFile::encodeName(target).toStdString(), error);
    if (error)
        throw SessionError(QStringLiteral("%1 cannot be written: %2.")
                               .arg(QDir::toNativeSeparators(target), QString::fromLocal8Bit(error.message())));
    temporary.setAutoRemove(false);
}

} // namespace PcapExport
