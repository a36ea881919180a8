#include "posixsocketslibrary.h"

#ifndef Q_OS_WIN

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstring>

SocketsLibrary::StartupReply PosixSocketsLibrary::WSAStartup(quint16 /*requestedVersion*/)
{
    // The maximum number of sockets is the descriptor limit, which the 16-bit field caps.
    const long openMax = sysconf(_SC_OPEN_MAX);
    const long maxSockets = std::clamp<long>(openMax, 1, 32767);
    return {0, 0x0101, quint16(maxSockets)};
}

int PosixSocketsLibrary::gethostname(QByteArray &buffer)
{
    if (buffer.isEmpty())
        return -1;
    if (::gethostname(buffer.data(), size_t(buffer.size())) != 0) {
        m_lastError = errno;
        return -1;
    }
    // A truncated name need not be NUL-ended.
    buffer[buffer.size() - 1] = '\0';
    return 0;
}

namespace {

std::optional<SocketsLibrary::HostEntry> interfaceAddress()
{
    ifaddrs *interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0)
        return std::nullopt;
    std::optional<SocketsLibrary::HostEntry> found;
    for (const ifaddrs *i = interfaces; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        sockaddr_in address{};
        std::memcpy(&address, i->ifa_addr, sizeof address);
        const bool loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        if (found && loopback)
            continue;
        found = SocketsLibrary::HostEntry{
            qint16(sizeof address.sin_addr),
            QByteArray(reinterpret_cast<const char *>(&address.sin_addr), sizeof address.sin_addr)};
        if (!loopback)
            break;
    }
    ::freeifaddrs(interfaces);
    return found;
}

} // namespace

std::optional<SocketsLibrary::HostEntry> PosixSocketsLibrary::gethostbyname(const QByteArray &name)
{
    QByteArray own(HOST_NAME_MAX + 1, '\0');
    if (::gethostname(own.data(), size_t(own.size() - 1)) == 0 && name == own.constData())
        return interfaceAddress();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo *found = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;

    std::optional<HostEntry> entry;
    if (found->ai_addr != nullptr && found->ai_addr->sa_family == AF_INET) {
        sockaddr_in address{};
        std::memcpy(&address, found->ai_addr, sizeof address);
        HostEntry result;
        result.length = qint16(sizeof address.sin_addr);
        result.firstAddress = QByteArray(reinterpret_cast<const char *>(&address.sin_addr), sizeof address.sin_addr);
        entry = result;
    }
    freeaddrinfo(found);
    return entry;
}

#endif
