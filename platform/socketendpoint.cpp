#include "socketendpoint.h"

#include "nativesocket.h"
#include "platformerror.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

// Connection requests that a listener has announced and no endpoint has taken over yet.
// Descriptors are unique in the process, so listeners of several engines can share it.
QSet<qintptr> &openRequests()
{
    static QSet<qintptr> requests;
    return requests;
}

[[noreturn]] void fail(int number)
{
    throw PlatformError(number, NativeSocket::descriptionFor(number));
}

} // namespace

// A listener that hands every incoming connection to its endpoint as a request, from the
// event loop rather than from inside the server's own accept loop, so that the request's
// handler may yield to the event loop.
class ListeningServer final : public QTcpServer
{
public:
    explicit ListeningServer(SocketEndpoint *endpoint) : m_endpoint(endpoint) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        openRequests().insert(descriptor);
        QPointer<SocketEndpoint> endpoint(m_endpoint);
        QMetaObject::invokeMethod(
            m_endpoint,
            [endpoint, descriptor] {
                if (endpoint)
                    endpoint->takeIncoming(descriptor);
                else if (openRequests().remove(descriptor))
                    NativeSocket::closeDescriptor(descriptor);
            },
            Qt::QueuedConnection);
    }

private:
    SocketEndpoint *m_endpoint;
};

SocketEndpoint::SocketEndpoint(QObject *parent) : QObject(parent) {}

SocketEndpoint::~SocketEndpoint() = default;

void SocketEndpoint::requireState(State state) const
{
    if (m_state != state)
        fail(ErrorNumber::InvalidOperation);
}

void SocketEndpoint::Listen()
{
    requireState(State::Closed);
    if (m_localPort < 0 || m_localPort > 65535)
        fail(ErrorNumber::InvalidArgument);
    QHostAddress address(QHostAddress::Any);
    if (!m_localAddress.isEmpty() && !address.setAddress(m_localAddress))
        fail(ErrorNumber::AddressNotAvailable);
    auto server = std::make_unique<ListeningServer>(this);
    server->setMaxPendingConnections(1024);
    if (m_listenBacklog > 0)
        server->setListenBacklogSize(m_listenBacklog);
    if (!server->listen(address, quint16(m_localPort))) {
        const int number = server->serverError() == QAbstractSocket::AddressInUseError
                               ? ErrorNumber::AddressInUse
                               : NativeSocket::numberForQtError(server->serverError());
        throw PlatformError(number, NativeSocket::descriptionFor(number));
    }
    m_localPort = server->serverPort();
    m_server = std::move(server);
    m_state = State::Listening;
}

void SocketEndpoint::takeIncoming(qintptr descriptor)
{
    if (!openRequests().contains(descriptor))
        return;
    emit connectionRequest(qint32(descriptor));
    // A request that its handler did not accept ends at once, so that the peer does not
    // believe itself connected to nobody.
    if (openRequests().remove(descriptor))
        NativeSocket::closeDescriptor(descriptor);
}

QString SocketEndpoint::peerOfRequest(qint32 requestId)
{
    if (!openRequests().contains(requestId))
        return {};
    const auto [address, port] = NativeSocket::peerOf(requestId);
    return address.isNull() ? QString() : address.toString() + QLatin1Char(':') + QString::number(port);
}

void SocketEndpoint::Accept(qint32 requestId)
{
    if (m_state != State::Closed)
        fail(ErrorNumber::InvalidOperation);
    if (!openRequests().remove(requestId))
        fail(ErrorNumber::InvalidArgument);
    auto stream = std::make_unique<StreamSocket>(requestId);
    stream->setKeepAlive(m_keepAlive);
    adoptStream(std::move(stream));
}

void SocketEndpoint::adoptStream(std::unique_ptr<StreamSocket> stream)
{
    m_stream = std::move(stream);
    m_remoteHostIP = m_stream->peerAddress().toString();
    m_remotePort = m_stream->peerPort();
    m_localPort = m_stream->localPort();
    m_state = State::Connected;
    StreamSocket *s = m_stream.get();
    connect(s, &StreamSocket::readyRead, this,
            [this, s] { emit dataArrival(qint32(qMin<qint64>(s->bytesAvailable(), INT_MAX))); });
    connect(s, &StreamSocket::peerClosed, this, [this] {
        m_state = State::PeerClosed;
        emit closed();
    });
    connect(s, &StreamSocket::failed, this, [this](int number, const QString &description) {
        m_state = State::Failed;
        emit errorOccurred(qint16(number), description);
    });
}

void SocketEndpoint::Connect()
{
    requireState(State::Closed);
    if (m_remotePort < 1 || m_remotePort > 65535)
        fail(ErrorNumber::InvalidArgument);
    const QHostAddress address = resolve(m_remoteHost);
    setupClient();
    m_state = State::Connecting;
    m_client->connectToHost(address, quint16(m_remotePort));
}

QHostAddress SocketEndpoint::resolve(const QString &host)
{
    QHostAddress address;
    if (address.setAddress(host))
        return address;
    if (host.trimmed().isEmpty())
        fail(ErrorNumber::HostNotFound);
    // A name is looked up once, when the operator starts the run.
    const QHostInfo info = QHostInfo::fromName(host);
    const auto addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty())
        fail(ErrorNumber::HostNotFound);
    for (const QHostAddress &candidate : addresses) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
            return candidate;
    }
    return addresses.first();
}

void SocketEndpoint::setupClient()
{
    m_client = new QTcpSocket(this);
    QTcpSocket *c = m_client;
    // As on an accepted connection, a chunk is at most this much however far the server runs
    // ahead: the rest waits in the connection.
    c->setReadBufferSize(StreamSocket::ReadPassLimit);
    connect(c, &QTcpSocket::connected, this, [this, c] {
        // Relayed chunks go out at once, not after Nagle's wait for an acknowledgement.
        c->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_remoteHostIP = NativeSocket::plainAddress(c->peerAddress()).toString();
        m_state = State::Connected;
    });
    connect(c, &QTcpSocket::bytesWritten, this, &SocketEndpoint::bytesSent);
    connect(c, &QTcpSocket::readyRead, this,
            [this, c] { emit dataArrival(qint32(qMin<qint64>(c->bytesAvailable(), INT_MAX))); });
    connect(c, &QTcpSocket::disconnected, this, [this] {
        if (m_state == State::Connected || m_state == State::Connecting) {
            m_state = State::PeerClosed;
            emit closed();
        }
    });
    connect(c, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // an orderly close, told by disconnected()
        const int number = NativeSocket::numberForQtError(error);
        m_state = State::Failed;
        emit errorOccurred(qint16(number), NativeSocket::descriptionFor(number));
    });
}

void SocketEndpoint::SendData(const QByteArray &bytes)
{
    if (m_stream) {
        if (m_state != State::Connected)
            fail(ErrorNumber::WrongProtocolOrState);
        m_stream->write(bytes);
        return;
    }
    if (!m_client || m_state != State::Connected || m_client->state() != QAbstractSocket::ConnectedState)
        fail(ErrorNumber::WrongProtocolOrState);
    if (m_client->write(bytes) != bytes.size())
        fail(ErrorNumber::ConnectAborted);
    // Out now, not on the event loop's next pass.
    m_client->flush();
}

qint64 SocketEndpoint::bytesToWrite() const
{
    if (m_stream)
        return m_stream->bytesToWrite();
    return m_client ? m_client->bytesToWrite() : 0;
}

void SocketEndpoint::setHeld(bool held)
{
    if (m_stream)
        m_stream->setHeld(held);
}

QByteArray SocketEndpoint::GetData()
{
    if (m_stream)
        return m_stream->readAll();
    if (m_client)
        return m_client->readAll();
    fail(ErrorNumber::WrongProtocolOrState);
}

void SocketEndpoint::Close()
{
    if (m_stream) {
        // The stream may be the one reporting the event that led here: it goes once that is done.
        m_stream->close();
        m_stream->disconnect(this);
        m_stream.release()->deleteLater();
    }
    if (m_client) {
        m_client->disconnect(this);
        m_client->abort();
        m_client->deleteLater();
        m_client = nullptr;
    }
    m_server.reset();
    m_state = State::Closed;
}

void SocketEndpoint::finish(const QDeadlineTimer &deadline)
{
    const qintptr fd = m_stream ? m_stream->descriptor() : m_client ? m_client->socketDescriptor() : -1;
    if (fd != -1 && (m_state == State::Connected || m_state == State::PeerClosed)) {
        // The program is ending: waiting here holds up no other event.
        if (m_stream) {
            m_stream->flush(deadline);
        } else {
            while (m_client->bytesToWrite() > 0 && m_client->state() == QAbstractSocket::ConnectedState) {
                m_client->flush();
                const qint64 left = deadline.remainingTime();
                if (m_client->bytesToWrite() == 0 || left <= 0 || !NativeSocket::waitWritable(fd, int(left)))
                    break;
            }
        }
        NativeSocket::shutdownSending(fd);
        while (NativeSocket::unacknowledgedBytes(fd) > 0 && !deadline.hasExpired())
            QThread::msleep(5);
    }
    Close();
}
