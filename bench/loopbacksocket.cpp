#include "loopbacksocket.h"

#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopbackAddress(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void prepare(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Every message goes out at once, as a tracker's does.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

LoopbackSocket &LoopbackSocket::operator=(LoopbackSocket &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

LoopbackSocket LoopbackSocket::listen(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return {};
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return {};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return LoopbackSocket(fd);
}

LoopbackSocket LoopbackSocket::accept(std::chrono::milliseconds timeout) const
{
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) <= 0)
        return {};
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd == -1)
        return {};
    prepare(fd);
    return LoopbackSocket(fd);
}

LoopbackSocket LoopbackSocket::connectTo(quint16 port, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    const sockaddr_in address = loopbackAddress(port);
    for (;;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd == -1)
            return {};
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            prepare(fd);
            return LoopbackSocket(fd);
        }
        ::close(fd);
        if (clock.elapsed() > timeout.count())
            return {};
        QThread::msleep(10);
    }
}

quint16 LoopbackSocket::freePort()
{
    const LoopbackSocket probe = listen(0);
    return probe.localPort();
}

quint16 LoopbackSocket::localPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (m_fd == -1 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

qsizetype LoopbackSocket::send(const char *data, qsizetype size)
{
    for (;;) {
        const ssize_t sent = ::send(m_fd, data, size_t(size), MSG_NOSIGNAL);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool LoopbackSocket::sendAll(const char *data, qsizetype size)
{
    while (size > 0) {
        const qsizetype sent = send(data, size);
        if (sent < 0)
            return false;
        if (sent == 0) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        data += sent;
        size -= sent;
    }
    return true;
}

qsizetype LoopbackSocket::receive(char *data, qsizetype size)
{
    for (;;) {
        const ssize_t got = ::recv(m_fd, data, size_t(size), 0);
        if (got > 0)
            return got;
        if (got == 0)
            return -1;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

void LoopbackSocket::close()
{
    if (m_fd != -1) {
        ::close(m_fd);
        m_fd = -1;
    }
}
