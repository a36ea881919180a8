#ifndef GPSA_SOCKETENDPOINT_H
#define GPSA_SOCKETENDPOINT_H

#include "streamsocket.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QTcpServer;
class QTcpSocket;

// The event-driven TCP endpoint of the capture engine: a listener, a connection taken over
// from a listener's request, or a client. Operations that fail throw a PlatformError with a
// socket error number and description; everything else is told by the signals, which arrive
// on the event loop's thread, one at a time, and carry every byte value 0 to 255 unchanged.
class SocketEndpoint final : public QObject
{
    Q_OBJECT

public:
    enum class State { Closed, Listening, Connecting, Connected, PeerClosed, Failed };

    explicit SocketEndpoint(QObject *parent = nullptr);
    ~SocketEndpoint() override;

    // The one local address to listen on, as text; empty for every address.
    void setLocalAddress(const QString &address) { m_localAddress = address; }
    // Connection requests the system holds while none is taken yet; 0 for its default.
    void setListenBacklog(int requests) { m_listenBacklog = requests; }
    // The port to listen on; after Listen the port in use (zero binds to a free port).
    void setLocalPort(int port) { m_localPort = port; }
    [[nodiscard]] int localPort() const { return m_localPort; }
    void setRemotePort(int port) { m_remotePort = port; }
    [[nodiscard]] int remotePort() const { return m_remotePort; }
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    [[nodiscard]] QString remoteHost() const { return m_remoteHost; }
    // The peer's address as dotted text; an IPv4 peer of a dual-stack listener shows as a.b.c.d.
    [[nodiscard]] QString remoteHostIP() const { return m_remoteHostIP; }
    // An accepted connection's own address, the one its peer connected to.
    [[nodiscard]] QString localAddress() const { return m_stream ? m_stream->localAddress().toString() : QString(); }
    // The address and port of the peer of a connection request not yet taken over; empty
    // when unknown.
    [[nodiscard]] static QString peerOfRequest(qint32 requestId);
    [[nodiscard]] State state() const { return m_state; }

    void setKeepAlive(const KeepAliveTimings &timings) { m_keepAlive = timings; }

    // Bytes handed to SendData that the network has not taken yet.
    [[nodiscard]] qint64 bytesToWrite() const;
    // An accepted connection takes nothing more from the network while held; see
    // StreamSocket::setHeld().
    void setHeld(bool held);
    [[nodiscard]] KeepAliveTimings keepAlive() const { return m_keepAlive; }

    // Starts taking connection requests on the local port, on every local address.
    void Listen();
    // Takes over the connection named by a connectionRequest() of any listener. A request
    // that no endpoint takes over while its signal is handled is closed at once.
    void Accept(qint32 requestId);
    // Starts connecting to the remote host and port; a host name is looked up first.
    void Connect();
    // The address of a host, given as an address or as a name that is looked up now (an IPv4
    // address preferred); throws a PlatformError when there is none.
    [[nodiscard]] static QHostAddress resolve(const QString &host);
    // Queues bytes and sends at once as many as the network takes.
    void SendData(const QByteArray &bytes);
    // Every byte received and not yet taken.
    [[nodiscard]] QByteArray GetData();
    void Close();

    // For the end of the program: sends what is still queued, ends the sending side, waits
    // for the peer to take the rest, then closes, all by the deadline. Closing at once could
    // reset the connection and throw away bytes the peer has not received yet.
    void finish(const QDeadlineTimer &deadline);

signals:
    void connectionRequest(qint32 requestId);
    void dataArrival(qint32 bytesTotal);
    void closed();
    // A client's queued bytes have partly or wholly gone to the network.
    void bytesSent();
    void errorOccurred(qint16 number, const QString &description);

private:
    void requireState(State state) const;
    void takeIncoming(qintptr descriptor);
    void adoptStream(std::unique_ptr<StreamSocket> stream);
    void setupClient();

    QString m_localAddress;
    int m_listenBacklog = 0;
    int m_localPort = 0;
    int m_remotePort = 0;
    QString m_remoteHost;
    QString m_remoteHostIP;
    State m_state = State::Closed;
    KeepAliveTimings m_keepAlive;
    std::unique_ptr<QTcpServer> m_server;
    std::unique_ptr<StreamSocket> m_stream;
    QTcpSocket *m_client = nullptr;

    friend class ListeningServer;
};

#endif
