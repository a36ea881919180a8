#ifndef GPSA_SESSIONINDEX_H
#define GPSA_SESSIONINDEX_H

#include "sessionrecorder.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// An event read back, with the index line it came from (0: made up from the capture files).
struct RecordedEvent
{
    SessionEvent event;
    int line = 0;
};

// One capture run: from a listen line to the next. Its relay stream is every in and out event of
// the run, in order.
struct RecordedRun
{
    int inPort = 0;
    QString relayTo;  // "HOST:PORT" from the listen line; empty when the run did not relay
    bool relayPerTracker = false; // each tracker relayed over a connection of its own
    qint64 startUs = 0;
    QList<qsizetype> relay; // indices into SessionIndex::events()
};

// One tracker connection: its connect, then its in, cmd, ack, pass and mirror events, the out
// events of its own relay or, over the one relay, those that happened during it, and the
// disconnect or error that ended it (missing if the index ends first). Connections of a run that
// served several trackers at once overlap; their events tell them apart by their peer. Events
// that the engine recorded just before the connect (a first chunk read while the connection was
// being accepted) belong to it too.
struct RecordedSession
{
    qsizetype run = 0;       // index into SessionIndex::runs()
    qsizetype connect = -1;  // index into SessionIndex::events()
    QList<qsizetype> events; // the others, in index order
    qint64 startUs = 0;      // the earliest time of the connect and its events
    qint64 endUs = 0;        // the latest
};

// The sessions of a capture folder, read from its index.tsv, or without one (a user deleted it)
// made up from the capture files alone: the .dat files of the IN port are the tracker's chunks, in
// number order, those of any other port the OUT server's; one run, one session, one second apart
// from 1970-01-01T00:00:00Z (the files' times say too little to go by), with the made-up addresses
// FallbackTracker, FallbackAnalyzer and FallbackOutServer.
class SessionIndex final
{
public:
    static constexpr QLatin1StringView FallbackTracker{"192.0.2.1:50000"};
    static constexpr QLatin1StringView FallbackAnalyzer{"192.0.2.2"};
    static constexpr QLatin1StringView FallbackOutServer{"192.0.2.3"};

    // inPort: the IN port for a folder without an index; 0 takes that of the error logs, else that
    // of the lowest-numbered capture. Throws a SessionError naming the file and line.
    [[nodiscard]] static SessionIndex read(const QString &folder, int inPort = 0);

    [[nodiscard]] const QString &folder() const { return m_folder; }
    // False for an index made up from the capture files, whose times say nothing.
    [[nodiscard]] bool isTimed() const { return m_timed; }
    [[nodiscard]] const QList<RecordedEvent> &events() const { return m_events; }
    [[nodiscard]] const QList<RecordedRun> &runs() const { return m_runs; }
    [[nodiscard]] const QList<RecordedSession> &sessions() const { return m_sessions; }

    // The bytes of an in, out or pass event from its capture file, those of a cmd or ack from its
    // line. Throws a SessionError when the file is missing or shorter than the event says.
    [[nodiscard]] QByteArray bytesOf(const RecordedEvent &event) const;
    // "index.tsv line 12", or the capture file of an event made up from the files.
    [[nodiscard]] QString origin(const RecordedEvent &event) const;

private:
    void parse(const QByteArray &text);
    void readCaptureFiles(int inPort);
    // Groups the events into runs and sessions.
    void group();
    // The run of an event, the first one made when the index has no listen line.
    RecordedRun &currentRun(const SessionEvent &event);
    // The sessions being recorded: those open by their tracker, and the one opened last, to which
    // the answers of the one relay belong.
    struct OpenSessions
    {
        QHash<QString, qsizetype> byPeer;
        qsizetype latest = -1;
    };
    // Opens the session of a connect event, with the events of its connection that came early,
    // unless one of those ended it already.
    void openSession(qsizetype connect, QList<qsizetype> &early, OpenSessions &open);
    // Adds an event of a connection or of the relay to the run and to its open session, and else
    // to the early events.
    void addToSession(qsizetype index, OpenSessions &open, QList<qsizetype> &early);

    QString m_folder;
    bool m_timed = true;
    QList<RecordedEvent> m_events;
    QList<RecordedRun> m_runs;
    QList<RecordedSession> m_sessions;
};

#endif
