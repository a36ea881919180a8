#include "loopbackpeer.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <linux/filter.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace LoopbackPeer {

namespace {

// Waits for events on fd in short steps so that a stop request is seen; false on time-out or stop.
bool waitFor(int fd, short events, int timeoutMs, const std::stop_token &stop)
{
    constexpr int Step = 100;
    for (int waited = 0; timeoutMs < 0 || waited < timeoutMs; waited += Step) {
        if (stop.stop_requested())
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, Step);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
    return false;
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

qint64 statusField(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int listenOnFreePort(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

int acceptOne(int listener, int timeoutMs, const std::stop_token &stop)
{
    if (!waitFor(listener, POLLIN, timeoutMs, stop))
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

bool sendAll(int fd, const QByteArray &bytes, const std::stop_token &stop, std::atomic<qint64> *sent)
{
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        if (!waitFor(fd, POLLOUT, -1, stop))
            return false;
        const ssize_t n =
            ::send(fd, bytes.constData() + offset, size_t(bytes.size() - offset), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return false;
        }
        offset += n;
        if (sent)
            *sent += n;
    }
    return true;
}

bool readUntilEnd(int fd, QByteArray *into, int timeoutMs)
{
    char buffer[64 * 1024];
    for (;;) {
        if (!waitFor(fd, POLLIN, timeoutMs, {}))
            return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
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

bool seesEnd(int fd, int timeoutMs)
{
    return readUntilEnd(fd, nullptr, timeoutMs);
}

void resetOnClose(int fd)
{
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

bool ignoreEverything(int fd)
{
    // A socket filter runs before TCP handles a segment; one that keeps nothing leaves TCP
    // unaware of anything the other side sends, keep-alive probes included.
    sock_filter dropAll[] = {{BPF_RET | BPF_K, 0, 0, 0}};
    const sock_fprog program{1, dropAll};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

void halfClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
}

void closeSocket(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int openDescriptorCount()
{
    // The listing itself holds one descriptor while it runs.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size()) - 1;
}

qint64 peakResidentKiB()
{
    return statusField("VmHWM");
}

qint64 residentKiB()
{
    return statusField("VmRSS");
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    const qsizetype words = size / qsizetype(sizeof(quint32));
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), words);
    for (qsizetype i = words * qsizetype(sizeof(quint32)); i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

} // namespace LoopbackPeer
