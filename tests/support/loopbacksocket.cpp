#include "loopbacksocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// The calls below in POSIX spelling, and their Winsock forms. A Winsock handle is held in an
// int: the system hands out small values.
#ifdef Q_OS_WIN
int newSocket() { return int(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)); }
int acceptOn(int fd) { return int(::accept(SOCKET(fd), nullptr, nullptr)); }
void closeSocket(int fd) { ::closesocket(SOCKET(fd)); }
int pollOne(pollfd &p, int ms) { return ::WSAPoll(&p, 1, ms); }
int socketError() { return ::WSAGetLastError(); }
bool tryAgain(int e) { return e == WSAEWOULDBLOCK || e == WSAEINTR; }
constexpr int Interrupted = WSAEINTR, Reset = WSAECONNRESET, NoSignal = 0, StopSending = SD_SEND;
void setNonBlocking(int fd)
{
    u_long on = 1;
    ::ioctlsocket(SOCKET(fd), FIONBIO, &on);
}
#else
int newSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
int acceptOn(int fd) { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
void closeSocket(int fd) { ::close(fd); }
int pollOne(pollfd &p, int ms) { return ::poll(&p, 1, ms); }
int socketError() { return errno; }
bool tryAgain(int e) { return e == EINTR || e == EAGAIN || e == EWOULDBLOCK; }
constexpr int Interrupted = EINTR, Reset = ECONNRESET, NoSignal = MSG_NOSIGNAL, StopSending = SHUT_WR;
void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }
#endif

template <typename T>
void setOption(int fd, int level, int name, const T &value)
{
    ::setsockopt(fd, level, name, reinterpret_cast<const char *>(&value), sizeof value);
}

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
    setNonBlocking(fd);
    // Every message goes out at once, as a tracker's does.
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
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
        pollfd p{};
        p.fd = decltype(p.fd)(fd);
        p.events = events;
        const int n = pollOne(p, step);
        if (n > 0)
            return true;
        if (n < 0 && socketError() != Interrupted)
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
    const int fd = newSocket();
    if (fd == -1)
        return {};
#ifndef Q_OS_WIN
    // On Windows the same option would let a second listener take the port.
    setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0) {
        closeSocket(fd);
        return {};
    }
    setNonBlocking(fd);
    return LoopbackSocket(fd);
}

LoopbackSocket LoopbackSocket::accept(std::chrono::milliseconds timeout, const std::stop_token &stop) const
{
    if (!waitFor(m_fd, POLLIN, int(timeout.count()), stop))
        return {};
    const int fd = acceptOn(m_fd);
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
        const int fd = newSocket();
        if (fd == -1)
            return {};
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            prepare(fd);
            return LoopbackSocket(fd);
        }
        closeSocket(fd);
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
        const auto sent = ::send(m_fd, data, int(std::min<qsizetype>(size, 1 << 30)), NoSignal);
        if (sent >= 0)
            return sent;
        const int e = socketError();
        if (e == Interrupted)
            continue;
        return tryAgain(e) ? 0 : -1;
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
        const auto got = ::recv(m_fd, data, int(std::min<qsizetype>(size, 1 << 30)), 0);
        if (got > 0)
            return got;
        if (got == 0)
            return -1;
        const int e = socketError();
        if (e == Interrupted)
            continue;
        return tryAgain(e) ? 0 : -1;
    }
}

bool LoopbackSocket::readUntilEnd(QByteArray *into, int timeoutMs)
{
    char buffer[64 * 1024];
    for (;;) {
        if (!waitFor(m_fd, POLLIN, timeoutMs, {}))
            return false;
        const auto n = ::recv(m_fd, buffer, int(sizeof buffer), 0);
        if (n == 0)
            return true;
        if (n < 0) {
            const int e = socketError();
            if (tryAgain(e))
                continue;
            return e == Reset;
        }
        if (into)
            into->append(buffer, n);
    }
}

short LoopbackSocket::wait(short events, int timeoutMs) const
{
    pollfd p{};
    p.fd = decltype(p.fd)(m_fd);
    p.events = short(((events & Readable) ? POLLIN : 0) | ((events & Writable) ? POLLOUT : 0));
    if (pollOne(p, timeoutMs) <= 0)
        return 0;
    return short(((p.revents & POLLIN) ? Readable : 0) | ((p.revents & POLLOUT) ? Writable : 0) |
                 ((p.revents & (POLLERR | POLLHUP)) ? Broken : 0));
}

void LoopbackSocket::resetOnClose()
{
    setOption(m_fd, SOL_SOCKET, SO_LINGER, linger{1, 0});
}

bool LoopbackSocket::ignoreEverything()
{
#ifdef Q_OS_WIN
    return false;
#else
    // A socket filter runs before TCP handles a segment; one that keeps nothing leaves TCP
    // unaware of anything the other side sends, keep-alive probes included.
    sock_filter dropAll[] = {{BPF_RET | BPF_K, 0, 0, 0}};
    const sock_fprog program{1, dropAll};
    return ::setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
#endif
}

void LoopbackSocket::halfClose()
{
    ::shutdown(m_fd, StopSending);
}

void LoopbackSocket::close()
{
    if (m_fd != -1)
        closeSocket(std::exchange(m_fd, -1));
}

int LoopbackSocket::openDescriptorCount()
{
#ifdef Q_OS_WIN
    DWORD handles = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &handles) ? int(handles) : 0;
#else
    // The listing itself holds one descriptor while it runs.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size()) - 1;
#endif
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
