#include "endpointlink.h"

#include "socketendpoint.h"

QString EndpointLink::peerAddress() const
{
    return m_endpoint.remoteHostIP();
}

int EndpointLink::peerPort() const
{
    return m_endpoint.remotePort();
}

QString EndpointLink::localAddress() const
{
    return m_endpoint.localAddress();
}

int EndpointLink::localPort() const
{
    return m_endpoint.localPort();
}

bool EndpointLink::isOpen() const
{
    return m_endpoint.state() == SocketEndpoint::State::Connected;
}

void EndpointLink::send(const QByteArray &bytes)
{
    m_endpoint.SendData(bytes);
}

void EndpointLink::setHeld(bool held)
{
    m_endpoint.setHeld(held);
}

void EndpointLink::close()
{
    m_endpoint.Close();
}
