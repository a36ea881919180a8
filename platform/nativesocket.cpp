#include "nativesocket.h"

#include "platformerror.h"

#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace NativeSocket {

#ifdef Q_OS_WIN
int lastSystemError() { return WSAGetLastError(); }
bool wouldBlock(int e) { return e == WSAEWOULDBLOCK; }
bool interrupted(int e) { return e == WSAEINTR; }
void setNonBlocking(qintptr fd)
{
    u_long on = 1;
    ioctlsocket(SOCKET(fd), FIONBIO, &on);
}
qint64 sendSome(qintptr fd, const char *data, qint64 size)
{
    return ::send(SOCKET(fd), data, int(qMin<qint64>(size, INT_MAX)), 0);
}
qint64 receiveSome(qintptr fd, char *data, qint64 size) { return ::recv(SOCKET(fd), data, int(size), 0); }
void closeNative(qintptr fd) { ::closesocket(SOCKET(fd)); }
bool waitWritable(qintptr fd, int ms)
{
    WSAPOLLFD p{SOCKET(fd), POLLWRNORM, 0};
    return WSAPoll(&p, 1, ms) > 0;
}
void shutdownSending(qintptr fd) { ::shutdown(SOCKET(fd), SD_SEND); }
qint64 unacknowledgedBytes(qintptr) { return 0; }
bool peerHasLeft(qintptr fd)
{
    // Windows reports a peer's end or reset as POLLHUP, whether or not bytes wait before it.
    WSAPOLLFD p{SOCKET(fd), POLLRDNORM, 0};
    return WSAPoll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}
bool connectPending(int e) { return e == WSAEWOULDBLOCK; }
namespace {
qintptr newStreamSocket(int family)
{
    const SOCKET fd = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return fd == INVALID_SOCKET ? -1 : qintptr(fd);
}
int optionLength(int size) { return size; }
using OptionPointer = char *;
} // namespace
#else
int lastSystemError() { return errno; }
bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK; }
bool interrupted(int e) { return e == EINTR; }
void setNonBlocking(qintptr fd)
{
    const int flags = ::fcntl(int(fd), F_GETFL);
    ::fcntl(int(fd), F_SETFL, flags | O_NONBLOCK);
}
qint64 sendSome(qintptr fd, const char *data, qint64 size)
{
#ifdef MSG_NOSIGNAL
    return ::send(int(fd), data, size_t(size), MSG_NOSIGNAL);
#else
    return ::send(int(fd), data, size_t(size), 0);
#endif
}
qint64 receiveSome(qintptr fd, char *data, qint64 size) { return ::recv(int(fd), data, size_t(size), 0); }
void closeNative(qintptr fd) { ::close(int(fd)); }
bool waitWritable(qintptr fd, int ms)
{
    pollfd p{int(fd), POLLOUT, 0};
    return ::poll(&p, 1, ms) > 0;
}
void shutdownSending(qintptr fd) { ::shutdown(int(fd), SHUT_WR); }
qint64 unacknowledgedBytes(qintptr fd)
{
#ifdef SIOCOUTQ
    int queued = 0;
    return ::ioctl(int(fd), SIOCOUTQ, &queued) == 0 ? queued : 0;
#else
    Q_UNUSED(fd);
    return 0;
#endif
}
bool peerHasLeft(qintptr fd)
{
#ifdef POLLRDHUP
    pollfd p{int(fd), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
#else
    pollfd p{int(fd), 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
#endif
}
bool connectPending(int e) { return e == EINPROGRESS; }
namespace {
qintptr newStreamSocket(int family)
{
    return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
socklen_t optionLength(int size) { return socklen_t(size); }
using OptionPointer = void *;
} // namespace
#endif

qintptr startConnect(const QHostAddress &address, quint16 port, int &systemError)
{
    sockaddr_storage target{};
    int length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&target);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&a->sin6_addr, bytes.c, 16);
        length = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&target);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *a;
    }
    const qintptr fd = newStreamSocket(target.ss_family);
    if (fd == -1) {
        systemError = lastSystemError();
        return -1;
    }
    setNonBlocking(fd);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), optionLength(sizeof on));
    systemError = ::connect(fd, reinterpret_cast<sockaddr *>(&target), optionLength(length)) == 0 ? 0 : lastSystemError();
    return fd;
}

int connectOutcome(qintptr descriptor)
{
    int error = 0;
    auto length = optionLength(sizeof error);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, OptionPointer(&error), &length) != 0)
        return lastSystemError();
    return error;
}

int earlyConnectFailure(qintptr descriptor)
{
#ifdef Q_OS_WIN
    return connectOutcome(descriptor);
#else
    Q_UNUSED(descriptor);
    return 0; // reading the error would clear it before the notifier's handler sees it
#endif
}

void resetOnClose(qintptr descriptor)
{
    const linger abortive{1, 0};
    ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive),
                 optionLength(sizeof abortive));
}

int numberFor(int systemError)
{
    switch (systemError) {
#ifdef Q_OS_WIN
    case WSAECONNRESET:
        return ErrorNumber::ConnectionReset;
    case WSAECONNABORTED:
        return ErrorNumber::ConnectAborted;
    case WSAETIMEDOUT:
        return ErrorNumber::TimedOut;
    case WSAENOTCONN:
        return ErrorNumber::NotConnected;
    case WSAEHOSTUNREACH:
        return ErrorNumber::HostUnreachable;
    case WSAENETUNREACH:
        return ErrorNumber::NetworkUnreachable;
    case WSAECONNREFUSED:
        return ErrorNumber::ConnectionRefused;
#else
    case ECONNRESET:
        return ErrorNumber::ConnectionReset;
    case EPIPE:
    case ECONNABORTED:
        return ErrorNumber::ConnectAborted;
    case ETIMEDOUT:
        return ErrorNumber::TimedOut;
    case ENOTCONN:
        return ErrorNumber::NotConnected;
    case EHOSTUNREACH:
        return ErrorNumber::HostUnreachable;
    case ENETUNREACH:
        return ErrorNumber::NetworkUnreachable;
    case ECONNREFUSED:
        return ErrorNumber::ConnectionRefused;
#endif
    default:
        return ErrorNumber::ConnectAborted;
    }
}

QString descriptionFor(int number)
{
    switch (number) {
    case ErrorNumber::ConnectionReset:
        return QStringLiteral("Connection is reset by remote side");
    case ErrorNumber::ConnectAborted:
        return QStringLiteral("Connection is aborted due to timeout or other failure");
    case ErrorNumber::TimedOut:
        return QStringLiteral("Connection timed out");
    case ErrorNumber::NotConnected:
        return QStringLiteral("Socket is not connected");
    case ErrorNumber::HostUnreachable:
        return QStringLiteral("No route to host");
    case ErrorNumber::NetworkUnreachable:
        return QStringLiteral("Network is unreachable");
    case ErrorNumber::ConnectionRefused:
        return QStringLiteral("Connection is forcefully rejected");
    case ErrorNumber::AddressInUse:
        return QStringLiteral("Address in use");
    case ErrorNumber::AddressNotAvailable:
        return QStringLiteral("Address not available from the local machine");
    case ErrorNumber::HostNotFound:
        return QStringLiteral("Authoritative answer: Host not found");
    case ErrorNumber::WrongProtocolOrState:
        return QStringLiteral("Wrong protocol or connection state for the requested transaction or request");
    case ErrorNumber::InvalidOperation:
        return QStringLiteral("Invalid operation at current state");
    case ErrorNumber::InvalidArgument:
        return QStringLiteral("The argument passed to a function was not in the correct format or in the "
                              "specified range");
    default:
        return QStringLiteral("Socket error %1").arg(number);
    }
}

void closeDescriptor(qintptr descriptor)
{
    if (descriptor != -1)
        closeNative(descriptor);
}

namespace {

std::pair<QHostAddress, quint16> addressOf(qintptr descriptor, bool peer)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    const int result = peer ? ::getpeername(descriptor, raw, &length) : ::getsockname(descriptor, raw, &length);
    if (result != 0)
        return {};
    const quint16 port = address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port)
                                                       : ntohs(reinterpret_cast<sockaddr_in *>(&address)->sin_port);
    return {plainAddress(QHostAddress(raw)), port};
}

} // namespace

std::pair<QHostAddress, quint16> peerOf(qintptr descriptor)
{
    return addressOf(descriptor, true);
}

std::pair<QHostAddress, quint16> localOf(qintptr descriptor)
{
    return addressOf(descriptor, false);
}

int numberForQtError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return ErrorNumber::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return ErrorNumber::AddressNotAvailable;
    case QAbstractSocket::ConnectionRefusedError:
        return ErrorNumber::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return ErrorNumber::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return ErrorNumber::TimedOut;
    case QAbstractSocket::NetworkError:
        return ErrorNumber::NetworkUnreachable;
    case QAbstractSocket::RemoteHostClosedError:
        return ErrorNumber::ConnectionReset;
    default:
        return ErrorNumber::ConnectAborted;
    }
}

int growReceiveBuffer(qintptr descriptor, int bytes)
{
#ifdef SO_RCVBUFFORCE
    // Past net.core.rmem_max, for a process with the right to (CAP_NET_ADMIN); else the ceiling.
    if (::setsockopt(int(descriptor), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
#endif
        ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&bytes),
                     optionLength(sizeof bytes));
    int granted = 0;
    auto length = optionLength(sizeof granted);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&granted), &length) != 0)
        return 0;
    return granted;
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 v4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(v4) : address;
}

} // namespace NativeSocket

