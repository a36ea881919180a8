#ifndef GPSA_DATAGRAMSOCKET_H
#define GPSA_DATAGRAMSOCKET_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

// A UDP socket: bound to a local address and port to take datagrams from anyone, or bound to a
// free port and connected to one server, whose datagrams alone then arrive. Each datagram
// arrives whole, one of 0 bytes too, in the order the system took them. Failures throw a
// PlatformError numbered as the TCP endpoints' are.
class DatagramSocket final : public QObject
{
    Q_OBJECT

public:
    // The largest payload of a UDP datagram over IPv4.
    static constexpr qsizetype LargestDatagram = 65507;

    explicit DatagramSocket(QObject *parent = nullptr);

    // An empty address binds every address.
    void bind(const QString &localAddress, quint16 port);
    // Datagrams go to the server and come from it alone; a server that is not there is told by
    // failed() when the system learns it (an ICMP port unreachable), or by the next send.
    void connectTo(const QHostAddress &address, quint16 port);
    // Asks for a receive buffer of `bytes`; gives what the system granted.
    int growReceiveBuffer(int bytes);

    void sendTo(const QByteArray &bytes, const QHostAddress &address, quint16 port);
    // To the server connected to.
    void send(const QByteArray &bytes);

    [[nodiscard]] QHostAddress localAddress() const;
    [[nodiscard]] quint16 localPort() const { return m_socket.localPort(); }

signals:
    void received(const QByteArray &bytes, const QHostAddress &from, quint16 port);
    void failed(int number, const QString &description);

private:
    void readPending();
    [[noreturn]] void fail() const;

    QUdpSocket m_socket;
};

#endif
