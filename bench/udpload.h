#ifndef GPSA_UDPLOAD_H
#define GPSA_UDPLOAD_H

#include <QList>
#include <QString>

#include <chrono>

// Datagrams through a relay on loopback: a tracker socket sends to the relay's IN port, a server
// socket bound to the OUT port takes what the relay sends on. Blocking native sockets with
// deadlines: the benchmark measures, it serves no event loop.
class UdpLoad final
{
public:
    explicit UdpLoad(std::chrono::seconds patience);
    ~UdpLoad();
    UdpLoad(const UdpLoad &) = delete;
    UdpLoad &operator=(const UdpLoad &) = delete;

    [[nodiscard]] quint16 serverPort() const { return m_serverPort; }
    // Sends a probe every 20 ms until one comes through: the relay is listening. Gives the probes
    // sent, or -1 when none came through within the patience.
    [[nodiscard]] int waitReady(quint16 inPort);

    struct Latency
    {
        QList<double> micros; // from the send to the arrival at the server, one datagram at a time
        QString problem;
    };
    [[nodiscard]] Latency latency(quint16 inPort, int messages, int size);

    struct Burst
    {
        int sent = 0;
        int received = 0; // at the server, within the patience after the last one was sent
        double seconds = 0; // from the first send to the last arrival
    };
    // `count` datagrams of `size` bytes at `perSecond`.
    [[nodiscard]] Burst pacedBurst(quint16 inPort, int count, int size, int perSecond);

private:
    // The next datagram at the server within the deadline; its size, or -1.
    [[nodiscard]] qint64 receive(std::chrono::steady_clock::time_point deadline);
    // Everything that waits at the server now.
    void drain();

    std::chrono::seconds m_patience;
    int m_tracker = -1;
    int m_server = -1;
    quint16 m_serverPort = 0;
};

#endif
