#ifndef GPSA_DATAGRAMLINK_H
#define GPSA_DATAGRAMLINK_H

#include "trackerlink.h"

#include <QHostAddress>

class DatagramSocket;

// A tracker that sends over UDP: its source address and port, reached through the socket that
// its datagrams arrived on. Nothing holds a UDP sender back, and nothing closes: the engine
// forgets the peer once it has gone quiet.
class DatagramLink final : public TrackerLink
{
public:
    DatagramLink(DatagramSocket &socket, QHostAddress address, quint16 port);

    [[nodiscard]] QString peerAddress() const override { return m_address.toString(); }
    [[nodiscard]] int peerPort() const override { return m_port; }
    [[nodiscard]] QString localAddress() const override;
    [[nodiscard]] int localPort() const override;
    [[nodiscard]] bool isOpen() const override { return true; }
    [[nodiscard]] bool carriesDatagrams() const override { return true; }
    void send(const QByteArray &bytes) override;
    void setHeld(bool) override {}
    void close() override {}

private:
    DatagramSocket &m_socket;
    const QHostAddress m_address;
    const quint16 m_port;
};

#endif
