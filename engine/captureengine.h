#ifndef GPSA_CAPTUREENGINE_H
#define GPSA_CAPTUREENGINE_H

#include "capturefeatures.h"
#include "capturestate.h"
#include "controls.h"
#include "framesplitter.h"
#include "outputfile.h"
#include "positionrecorder.h"
#include "sessionrecorder.h"
#include "socketendpoint.h"
#include "trackersession.h"
#include "trackertable.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <span>

class DatagramSocket;
class EndpointArray;
class QTimer;
class PlatformError;
class StreamSocket;

// The capture engine: the start-up of the listener and the relay, the one tracker slot,
// the inbound path with its relay, the return path and the operator command. It is driven
// by the events of its three endpoints and reaches the operator only through Controls.
// Each tracker connection is a TrackerSession, from its accept to its end; with one tracker at
// a time (the default) there is at most one, in slot 1, relaying over the one OUT connection.
//
// The handlers live in the files of their parts of the engine:
//   capturestartup.cpp   Form_Load, Command1_Click, InitAcceptSockets
//   trackerslot.cpp      GetFreeSocket, sckListen_ConnectionRequest, sckAccept_Close, sckAccept_Error
//   inbounddatapath.cpp  sckAccept_DataArrival
//   returnpath.cpp       sckOUT_DataArrival
//   commandcomposer.cpp  SendUserCommand
// The features beyond them hang on named hooks in files of their own:
//   trackerdialogue.cpp  the tracker's protocol recognised, its frames acknowledged, the OUT
//                        server's answers passed on
//   sessionrecording.cpp every event in the session index
//   fleetrelay.cpp       several trackers at once, each relaying over an OUT connection of its own
//   mirroring.cpp        every chunk copied to the mirror servers, their answers captured
//   framedecoding.cpp    every intact frame decoded: pane lines, positions, positions.csv
//   udppeers.cpp         the IN port over UDP too: each datagram a chunk, each sender a tracker
class CaptureEngine final : public QObject
{
    Q_OBJECT

public:
    // One chunk as captured: its bytes, the number and data file it took, and when it was read.
    struct Capture
    {
        QByteArray chunk;
        qint32 number = 0;
        QString file;
        qint64 timeUs = 0;
    };

    // captureFolder: where the capture files go; see defaultCaptureFolder().
    CaptureEngine(Controls &controls, QString captureFolder, QObject *parent = nullptr);
    ~CaptureEngine() override;

    void Form_Load();
    void Command1_Click();

    [[nodiscard]] const CaptureState &state() const { return m_state; }
    [[nodiscard]] QString captureFolder() const { return m_captureFolder; }
    // True once the engine has asked for the end of the program; it handles nothing more.
    [[nodiscard]] bool hasEnded() const { return m_ended; }

    // The IN port listened on, once listening; the listener's state.
    [[nodiscard]] int inPort() const { return m_sckListen->localPort(); }
    [[nodiscard]] SocketEndpoint::State listenerState() const { return m_sckListen->state(); }
    // The state of the relay's connection to the OUT server, and the relayed bytes that wait
    // for the network.
    [[nodiscard]] SocketEndpoint::State relayState() const { return m_sckOUT->state(); }
    [[nodiscard]] qint64 relayBytesWaiting() const { return m_sckOUT->bytesToWrite(); }
    // The keep-alive timings of the tracker's connections, set before the start; the default
    // frees the slot of a tracker that vanished without closing in about two minutes.
    void setTrackerKeepAlive(const KeepAliveTimings &timings);
    // The UDP port listened on, 0 while none; the receive buffer the system granted it.
    [[nodiscard]] int udpPort() const;
    [[nodiscard]] int udpReceiveBuffer() const { return m_udpReceiveBuffer; }
    // The trackers connected now, for the operator's table of them.
    [[nodiscard]] TrackerTable &trackers() const { return *m_trackerTable; }

    // Opens the session index of a capture folder when the feature is on; throws a PlatformError.
    using RecorderFactory = std::function<std::unique_ptr<SessionRecorder>(const QString &folder)>;
    void setRecorderFactory(RecorderFactory factory) { m_recorderFactory = std::move(factory); }
    // Opens positions.csv of a capture folder when decoding is on; throws a PlatformError.
    using PositionRecorderFactory = std::function<std::unique_ptr<PositionRecorder>(const QString &folder)>;
    void setPositionRecorderFactory(PositionRecorderFactory factory) { m_positionRecorderFactory = std::move(factory); }
    // The features read when capturing started.
    [[nodiscard]] const CaptureFeatures &features() const { return m_features; }

    // Time allowed, at the end of the program, for bytes already handed to an endpoint to
    // reach the network.
    static constexpr std::chrono::milliseconds FlushTimeout{2000};

    // Relayed bytes that may wait for an OUT server that does not take them. Beyond this the
    // tracker is held: its bytes wait in its own connection, and nothing is lost or reordered.
    // A tracker's normal traffic, a few hundred bytes a second, never comes near it.
    static constexpr qint64 RelayQueueLimit = 4 * 1024 * 1024;
    // With several trackers each has its share of it, but no less than this.
    static constexpr qint64 TrackerRelayQueueFloor = 64 * 1024;
    // Bytes that may wait for a mirror server before it is dropped for that tracker.
    static constexpr qint64 MirrorQueueLimit = 8 * 1024 * 1024;
    // The UDP receive buffer asked for: a burst of 10,000 datagrams of 100 bytes, each of which
    // takes 832 bytes of the buffer on Linux (8.3 MB in all), waits whole while the engine writes
    // files. Without the right to pass net.core.rmem_max the system grants twice that ceiling.
    static constexpr int UdpReceiveBuffer = 16 * 1024 * 1024;

private:
    // Capture start-up
    bool InitAcceptSockets();
    // Makes the capture folder and holds it open, its numbering continued; ends the program
    // with a message when the folder cannot be used.
    void openCaptureFolder();

    // Tracker connection slot
    [[nodiscard]] qint16 GetFreeSocket() const;
    void sckListen_ConnectionRequest(qint32 requestID);
    void sckAccept_Close(qint16 index);
    void sckAccept_Error(qint16 index, qint16 number, const QString &description);

    // Inbound data path and relay
    void sckAccept_DataArrival(qint16 index, qint32 bytesTotal);

    // Return-path capture: of the one OUT connection (owner null), or of a tracker's own.
    void sckOUT_DataArrival(TrackerSession *owner, qint32 bytesTotal);

    // Device command composer
    void SendUserCommand(TrackerSession &tracker);

    // Capture of one chunk into its two files and two pane lines; advances the counter.
    // read gives everything that waits.
    Capture captureChunk(const std::function<QByteArray()> &read, int port, QLatin1StringView asciiTag,
                         QLatin1StringView hexTag);
    void advanceCaptureCounter();
    // The chunk to the OUT server: over the one connection, or the tracker's own; throws a
    // PlatformError where one tracker's failed relay ends the program.
    void relayChunk(TrackerSession &tracker, const QByteArray &chunk);
    // Holds the tracker while the OUT server lags behind, and lets it go once it catches up
    // or its connection ends (so that the next relay reports the failure).
    void holdTrackerForRelay(TrackerSession &tracker);
    void releaseTracker(TrackerSession *tracker);
    // The first capture number of this run: one past the highest already in the folder.
    // False when that would be past the highest number a capture can take.
    [[nodiscard]] bool continueNumbering();

    [[nodiscard]] SocketEndpoint &sckAccept(qint16 index) const;
    // The session of a slot, null while the slot carries no tracker.
    [[nodiscard]] TrackerSession *sessionAt(qint16 index) const;
    // True when several trackers are served at once.
    [[nodiscard]] bool servesMany() const { return m_features.maxTrackers > 1; }
    // The tracker of a slot as the connection log names it, also once it has gone.
    [[nodiscard]] QString trackerName(qint16 index) const;
    // The bytes of a composed command as they go on the wire: in its frame, or followed by
    // CR LF unless that is switched off.
    [[nodiscard]] QByteArray commandOnTheWire(const QByteArray &command) const;

    // Hooks of the features, each of which does nothing while its feature is off.
    // At the start: the features are read, the session index opened; then its first line.
    void prepareFeatures();
    void recordListening();
    // A tracker has been taken into the slot, or a request declined.
    void trackerAccepted(qint16 index);
    // A session's start and end, whatever carries its tracker: its frames, its row of the table,
    // its relay and mirror connections; at its end, what its mirrors missed.
    void startSession(TrackerSession &tracker);
    void endSession(std::unique_ptr<TrackerSession> tracker);
    void requestDeclined(qint32 requestID);
    // After a tracker chunk's capture: its frames recognised and acknowledged, its index line.
    void trackerChunkCaptured(TrackerSession &tracker, const Capture &capture);
    void announceProtocol(TrackerSession &tracker, const TrackerFrame &first);
    void acknowledgeFrames(TrackerSession &tracker, std::span<const TrackerFrame> frames);
    // A tracker's session starts its decoding; after each of its chunks the frames are decoded.
    void startDecoding(TrackerSession &tracker);
    void decodeFrames(TrackerSession &tracker, const Capture &capture, std::span<const TrackerFrame> frames);
    // After an OUT-server chunk's capture: its index line, and it goes on to the tracker.
    void answerCaptured(TrackerSession *owner, const Capture &capture);
    // Bytes sent to the tracker that its index line records.
    void sentToTracker(TrackerSession &tracker, SessionEvent::Kind kind, const QByteArray &bytes, qint64 timeUs,
                       const QString &note = {});
    // The tracker's connection has ended, in order or by an error; its session ends.
    void trackerLeft(qint16 index, qint32 errorNumber, qint16 number, const QString &description);
    // One line of the session index, when it is on. The lines wait until the handler is done,
    // so that the relay's write does not wait for the index; a report or the end of the program
    // writes them first.
    void record(SessionEvent event);
    // A note of an event of the tracker's, with "udp" first for a UDP peer's.
    [[nodiscard]] static QString transportNote(const TrackerSession &tracker, const QString &note);
    void writeRecords();
    void writeRecordsBeforeTheEnd();
    [[nodiscard]] QString trackerPeer(qint16 index) const;
    // True while the slot's tracker connection is open: it has neither ended nor been closed.
    [[nodiscard]] bool trackerConnected(qint16 index) const;

    // Several trackers: the OUT server's address looked up once at the start, a connection of
    // each tracker's own opened as it connects; a relay that ends closes its tracker.
    void connectRelay();
    void openTrackerRelay(TrackerSession &tracker);
    void trackerRelayEnded(TrackerSession &tracker, const QString &reason);
    [[nodiscard]] bool relayOpen(const TrackerSession &tracker) const;
    [[nodiscard]] qint64 relayQueueLimit() const;
    // The note of an answer's index line on a connection of the tracker's own.
    [[nodiscard]] static QString streamNote(const StreamSocket &stream);

    // Mirrors: their addresses looked up at the start; a connection per tracker and mirror,
    // every chunk copied to it, what it answers captured; a mirror that fails or falls behind
    // is dropped for that tracker, and the bytes it missed are logged when the tracker leaves.
    void prepareMirrors();
    void openMirrors(TrackerSession &tracker);
    void mirrorChunk(TrackerSession &tracker, const QByteArray &chunk);
    void mirrorAnswered(TrackerSession &tracker, std::size_t mirror);
    void dropMirror(TrackerSession &tracker, std::size_t mirror, const QString &reason);
    void closeMirrors(TrackerSession &tracker);

    // UDP: the IN port bound for datagrams at the start; a peer known from its first datagram to
    // its going quiet, relaying over a socket of its own whose server is reported once if absent.
    struct UdpPeer
    {
        std::unique_ptr<TrackerSession> session;
        QTimer *idle = nullptr;
        DatagramSocket *relay = nullptr; // opened with its first datagram when relaying
        bool relayFailed = false;        // reported
    };
    void listenForDatagrams();
    void datagramArrival(const QByteArray &bytes, const QHostAddress &from, quint16 port);
    UdpPeer &newUdpPeer(const QString &key, const QHostAddress &from, quint16 port);
    void relayDatagram(UdpPeer &peer, const QByteArray &bytes);
    void udpAnswerArrival(UdpPeer &peer, const QByteArray &bytes);
    void udpRelayFailed(UdpPeer &peer, const QString &description);
    void forgetUdpPeer(const QString &key);

    // Runs one handler: an error that no region of the handler covers is reported with its
    // number and description, and the program ends.
    void runHandler(const std::function<void()> &handler);
    // Shows a region's report and ends the program; never returns.
    [[noreturn]] void endAfterMessage(const QString &prompt, const QString &title);
    [[noreturn]] void endAfterError(const PlatformError &error);
    [[noreturn]] void endProgram();
    // Sends what is queued and closes the trackers' and the OUT server's connections, within
    // FlushTimeout. A failure's listener goes on listening until the program has ended.
    void finishEndpoints();
    // Lets pending events run once; leaves the handler if one of them ended the program.
    void yieldOnce();

    Controls &m_controls;
    QString m_captureFolder;
    // The capture folder, held from the start, in which every capture file is made.
    OutputFolder m_outputFolder;
    CaptureState m_state;
    SocketEndpoint *m_sckListen;
    EndpointArray *m_sckAccept;
    SocketEndpoint *m_sckOUT;
    bool m_ended = false;

    CaptureFeatures m_features;
    RecorderFactory m_recorderFactory;
    std::unique_ptr<SessionRecorder> m_recorder;
    QList<SessionEvent> m_records;
    // The sessions by slot; a slot without a tracker holds none.
    std::vector<std::unique_ptr<TrackerSession>> m_sessions;
    TrackerTable *m_trackerTable;
    // Every tracker's decoded positions, while decoding is on; each session decodes its own.
    PositionRecorderFactory m_positionRecorderFactory;
    std::unique_ptr<PositionRecorder> m_positions;
    // The tracker's end is being handled as an error: its index line tells the error.
    bool m_trackerFailing = false;
    // Several trackers relaying: the OUT server, looked up at the start.
    QHostAddress m_relayAddress;
    // The mirror servers that could be looked up at the start.
    struct MirrorServer
    {
        QString name; // "HOST:PORT" as given
        QHostAddress address;
        quint16 port = 0;
    };
    QList<MirrorServer> m_mirrorServers;
    DatagramSocket *m_udpIn = nullptr;
    int m_udpReceiveBuffer = 0;
    // By "address:port".
    std::map<QString, std::unique_ptr<UdpPeer>> m_udpPeers;
};

#endif
