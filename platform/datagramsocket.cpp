#include "datagramsocket.h"

#include "nativesocket.h"
#include "platformerror.h"

#include <QNetworkDatagram>

DatagramSocket::DatagramSocket(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &DatagramSocket::readPending);
    connect(&m_socket, &QUdpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        const int number = NativeSocket::numberForQtError(error);
        emit failed(number, NativeSocket::descriptionFor(number));
    });
}

void DatagramSocket::bind(const QString &localAddress, quint16 port)
{
    QHostAddress address(QHostAddress::Any);
    if (!localAddress.isEmpty() && !address.setAddress(localAddress))
        throw PlatformError(ErrorNumber::AddressNotAvailable,
                            NativeSocket::descriptionFor(ErrorNumber::AddressNotAvailable));
    if (!m_socket.bind(address, port))
        fail();
}

void DatagramSocket::connectTo(const QHostAddress &address, quint16 port)
{
    // Bound and connected at once: a UDP socket's connect sends nothing.
    m_socket.connectToHost(address, port);
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        fail();
}

int DatagramSocket::growReceiveBuffer(int bytes)
{
    return NativeSocket::growReceiveBuffer(m_socket.socketDescriptor(), bytes);
}

void DatagramSocket::sendTo(const QByteArray &bytes, const QHostAddress &address, quint16 port)
{
    if (m_socket.writeDatagram(bytes, address, port) != bytes.size())
        fail();
}

void DatagramSocket::send(const QByteArray &bytes)
{
    if (m_socket.write(bytes) != bytes.size())
        fail();
}

QHostAddress DatagramSocket::localAddress() const
{
    return NativeSocket::plainAddress(m_socket.localAddress());
}

void DatagramSocket::readPending()
{
    // An ICMP error that the system holds for a connected socket (port unreachable) wakes it as
    // a datagram would; Qt's reading would take it silently.
    if (const int error = NativeSocket::connectOutcome(m_socket.socketDescriptor()); error != 0) {
        const int number = NativeSocket::numberFor(error);
        emit failed(number, NativeSocket::descriptionFor(number));
    }
    // Everything that waits, so that a burst costs one turn of the event loop.
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        if (!datagram.isValid())
            return; // an error, told by errorOccurred
        emit received(datagram.data(), NativeSocket::plainAddress(datagram.senderAddress()),
                      quint16(datagram.senderPort()));
    }
}

void DatagramSocket::fail() const
{
    const int number = NativeSocket::numberForQtError(m_socket.error());
    throw PlatformError(number, NativeSocket::descriptionFor(number));
}
