#ifndef GPSA_STREAMSOCKET_H
#define GPSA_STREAMSOCKET_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>

class SocketWatch;

// TCP keep-alive on an accepted connection: a peer that vanishes without closing (a tracker
// losing its mobile link) is detected after idle + interval * probes seconds and reported
// as an error, which frees the tracker slot.
struct KeepAliveTimings
{
    int idleSeconds = 60;
    int intervalSeconds = 10;
    int probes = 6;
};

// One connected TCP stream over a native descriptor, read and written without blocking on
// the event loop's thread. Unlike QTcpSocket it tells a reset by the peer (an error) from
// an orderly close by the peer (a close).
//
// readyRead() says that bytes wait in readAll(); peerClosed() follows once every byte sent
// before the close has been offered; failed() reports a broken connection with a socket
// error number and its description. After peerClosed() or failed() nothing more is read.
class StreamSocket final : public QObject
{
    Q_OBJECT

public:
    // The most bytes taken from the network in one pass of the event loop, and so between two
    // readyRead(): what is left waits for the next pass, so that a flood can neither starve
    // the other endpoints nor make one chunk, and the memory to capture it, grow without bound.
    static constexpr qsizetype ReadPassLimit = 1024 * 1024;

    // Takes over an accepted descriptor; it is closed when this object goes.
    explicit StreamSocket(qintptr descriptor, QObject *parent = nullptr);
    ~StreamSocket() override;

    // A connection to a server, started without waiting: connected() follows once it is made,
    // failed() when it cannot be. Bytes written meanwhile wait and go once it is made.
    [[nodiscard]] static StreamSocket *connectTo(const QHostAddress &address, quint16 port,
                                                 QObject *parent = nullptr);
    [[nodiscard]] bool isConnecting() const { return m_connecting; }

    [[nodiscard]] QHostAddress peerAddress() const { return m_peerAddress; }
    [[nodiscard]] quint16 peerPort() const { return m_peerPort; }
    [[nodiscard]] quint16 localPort() const { return m_localPort; }
    [[nodiscard]] QHostAddress localAddress() const { return m_localAddress; }
    [[nodiscard]] qint64 bytesAvailable() const { return m_input.size(); }
    [[nodiscard]] qint64 bytesToWrite() const { return m_output.size() - m_outputOffset; }
    // Bytes handed to write() that have not gone to the network: those queued, and those
    // thrown away with the queue when the connection broke or was closed.
    [[nodiscard]] qint64 bytesUnsent() const { return m_dropped + bytesToWrite(); }
    [[nodiscard]] bool isOpen() const { return m_descriptor != -1; }
    [[nodiscard]] qintptr descriptor() const { return m_descriptor; }

    void setKeepAlive(const KeepAliveTimings &timings);

    // While held, nothing is taken from the network: the peer's bytes wait in the connection,
    // whose window closes once the system's buffers are full. A peer that leaves meanwhile
    // (its close, a reset, a failed keep-alive) ends the hold for good: what it sent before is
    // read and told, then its end.
    void setHeld(bool held);

    // Every byte read and not yet taken.
    [[nodiscard]] QByteArray readAll();

    // Sends at once as much as the network takes and queues the rest. Throws a
    // PlatformError when the connection is closed or broken.
    void write(const QByteArray &bytes);

    // Waits until the queue is sent or the time is up; for the end of the program only.
    bool flush(const QDeadlineTimer &deadline);

    void close();

    // For a connection nobody listens to any longer: tells nothing more, reads nothing more,
    // sends what is queued (once connected), ends the sending side and closes, within the time
    // given at most, then deletes itself.
    void finishLater(std::chrono::milliseconds within);

signals:
    void connected();
    void readyRead();
    // Bytes that write() had to queue have all gone to the network.
    void sent();
    void peerClosed();
    void failed(int number, const QString &description);

private:
    StreamSocket(qintptr descriptor, QObject *parent, bool connecting);
    void watch(qintptr descriptor);
    void connectDone();
    // A connection refused before the watch was in place, which Windows does not report to it.
    void checkEarlyFailure();
    void fail(int number);
    void finishNow();
    void onReadable();
    void onWritable();
    bool sendQueued();
    void stopReading();
    void watchForTheEnd();

    qintptr m_descriptor = -1;
    SocketWatch *m_watch = nullptr;
    QByteArray m_input;
    QByteArray m_output;
    qsizetype m_outputOffset = 0;
    qint64 m_dropped = 0;
    QHostAddress m_peerAddress;
    quint16 m_peerPort = 0;
    quint16 m_localPort = 0;
    QHostAddress m_localAddress;
    int m_pendingError = 0;
    QTimer *m_endWatch = nullptr;
    bool m_held = false;
    bool m_peerLeft = false;
    bool m_readingStopped = false;
    bool m_connecting = false;
    bool m_finishing = false;
};


#endif
