#include "winsocketslibrary.h"

#ifdef Q_OS_WIN

#include <winsock.h>

SocketsLibrary::StartupReply WinSocketsLibrary::WSAStartup(quint16 requestedVersion)
{
    WSADATA reply{};
    const int result = ::WSAStartup(requestedVersion, &reply);
    return {result, reply.wVersion, quint16(reply.iMaxSockets)};
}

int WinSocketsLibrary::WSACleanup()
{
    return ::WSACleanup();
}

int WinSocketsLibrary::WSAGetLastError() const
{
    return ::WSAGetLastError();
}

int WinSocketsLibrary::gethostname(QByteArray &buffer)
{
    return ::gethostname(buffer.data(), int(buffer.size())) == SOCKET_ERROR ? -1 : 0;
}

std::optional<SocketsLibrary::HostEntry> WinSocketsLibrary::gethostbyname(const QByteArray &name)
{
    const hostent *entry = ::gethostbyname(name.constData());
    if (entry == nullptr)
        return std::nullopt;
    HostEntry result;
    result.length = qint16(entry->h_length);
    if (entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr && entry->h_length > 0)
        result.firstAddress = QByteArray(entry->h_addr_list[0], entry->h_length);
    return result;
}

#endif
