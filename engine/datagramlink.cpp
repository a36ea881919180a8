#include "datagramlink.h"

#include "datagramsocket.h"

DatagramLink::DatagramLink(DatagramSocket &socket, QHostAddress address, quint16 port)
    : m_socket(socket)
    , m_address(std::move(address))
    , m_port(port)
{
}

QString DatagramLink::localAddress() const
{
    return m_socket.localAddress().toString();
}

int DatagramLink::localPort() const
{
    return m_socket.localPort();
}

void DatagramLink::send(const QByteArray &bytes)
{
    m_socket.sendTo(bytes, m_address, m_port);
}
