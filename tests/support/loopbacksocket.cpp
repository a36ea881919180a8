#include "loopbacksocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/filter.h>
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

// Waits for events in short steps, so that a stop request is seen; false on time-out or stop.
bool waitFor(int fd, short events, int timeoutMs, const std::stop_token &stop)
{
    constexpr int Step = 100;
    int waited = 0;
    do {
        if (stop.stop_requested())
            return false;
        const int step = timeoutMs < 0 ? Step : std::min(Step, timeoutMs - waited);
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, step);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
        waited += step;
    } while (timeoutMs < 0 || waited < timeoutMs);
    return false;
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

LoopbackSocket LoopbackSocket::listen(quint16 port, int backlog)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return {};
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        return {};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return LoopbackSocket(fd);
}

LoopbackSocket LoopbackSocket::accept(std::chrono::milliseconds timeout, const std::stop_token &stop) const
{
    if (!waitFor(m_fd, POLLIN, int(timeout.count()), stop))
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
    return listen(0).localPort();
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

bool LoopbackSocket::sendAll(const char *data, qsizetype size, const std::stop_token &stop,
                             std::atomic<qint64> *sent)
{
    while (size > 0) {
        const qsizetype n = send(data, size);
        if (n < 0)
            return false;
        if (n == 0) {
            if (!waitFor(m_fd, POLLOUT, -1, stop))
                return false;
            continue;
        }
        data += n;
        size -= n;
        if (sent)
            *sent += n;
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

bool LoopbackSocket::readUntilEnd(QByteArray *into, int timeoutMs)
{
    char buffer[64 * 1024];
    for (;;) {
        if (!waitFor(m_fd, POLLIN, timeoutMs, {}))
            return false;
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return errno == ECONNRESET;
        }
        if (into)
            into->append(buffer, n);
    }
}

void LoopbackSocket::resetOnClose()
{
    const linger abortive{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

bool LoopbackSocket::ignoreEverything()
{
    // A socket filter runs before TCP handles a segment; one that keeps nothing leaves TCP
    // unaware of anything the other side sends, keep-alive probes included.
    sock_filter dropAll[] = {{BPF_RET | BPF_K, 0, 0, 0}};
    const sock_fprog program{1, dropAll};
    return ::setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

void LoopbackSocket::halfClose()
{
    ::shutdown(m_fd, SHUT_WR);
}

void LoopbackSocket::close()
{
    if (m_fd != -1)
        ::close(std::exchange(m_fd, -1));
}

int LoopbackSocket::openDescriptorCount()
{
    // The listing itself holds one descriptor while it runs.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size()) - 1;
}

QByteArray LoopbackSocket::randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    const qsizetype words = size / qsizetype(sizeof(quint32));
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), words);
    for (qsizetype i = words * qsizetype(sizeof(quint32)); i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}
