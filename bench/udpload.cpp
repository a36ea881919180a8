#include "udpload.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int boundSocket(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    // The server may take a burst that the relay passes on faster than it is read.
    const int buffer = 16 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    port = ntohs(address.sin_port);
    return fd;
}

bool sendTo(int fd, quint16 port, const QByteArray &bytes)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    return ::sendto(fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
           bytes.size();
}

} // namespace

UdpLoad::UdpLoad(std::chrono::seconds patience) : m_patience(patience)
{
    quint16 unused = 0;
    m_tracker = boundSocket(unused);
    m_server = boundSocket(m_serverPort);
}

UdpLoad::~UdpLoad()
{
    ::close(m_tracker);
    ::close(m_server);
}

qint64 UdpLoad::receive(Clock::time_point deadline)
{
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{m_server, POLLIN, 0};
        if (left < 0 || ::poll(&p, 1, int(left)) <= 0)
            return -1;
        const ssize_t got = ::recv(m_server, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got >= 0)
            return got;
    }
}

void UdpLoad::drain()
{
    char buffer[65536];
    while (::recv(m_server, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) {
    }
}

int UdpLoad::waitReady(quint16 inPort)
{
    const Clock::time_point deadline = Clock::now() + m_patience;
    for (int probes = 1; Clock::now() < deadline; ++probes) {
        sendTo(m_tracker, inPort, "probe");
        if (receive(Clock::now() + std::chrono::milliseconds(20)) >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            drain(); // the probes still on their way
            return probes;
        }
    }
    return -1;
}

UdpLoad::Latency UdpLoad::latency(quint16 inPort, int messages, int size)
{
    Latency result;
    const QByteArray datagram(size, 'u');
    for (int i = 0; i < messages; ++i) {
        const Clock::time_point sent = Clock::now();
        if (!sendTo(m_tracker, inPort, datagram) || receive(sent + m_patience) != size) {
            result.problem = QStringLiteral("datagram %1 of %2 did not come through").arg(i + 1).arg(messages);
            return result;
        }
        result.micros.append(double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - sent).count()) /
                             1000.0);
    }
    return result;
}

UdpLoad::Burst UdpLoad::pacedBurst(quint16 inPort, int count, int size, int perSecond)
{
    Burst result;
    const QByteArray datagram(size, 'b');
    const Clock::time_point start = Clock::now();
    const auto gap = std::chrono::nanoseconds(1'000'000'000LL / perSecond);
    Clock::time_point lastArrival = start;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + i * gap);
        result.sent += sendTo(m_tracker, inPort, datagram) ? 1 : 0;
        while (receive(Clock::now()) == size) { // what has arrived meanwhile
            ++result.received;
            lastArrival = Clock::now();
        }
    }
    while (result.received < result.sent && receive(Clock::now() + std::chrono::seconds(2)) == size) {
        ++result.received;
        lastArrival = Clock::now();
    }
    result.seconds = std::chrono::duration<double>(lastArrival - start).count();
    return result;
}
