#ifndef GPSA_POSIXSOCKETSLIBRARY_H
#define GPSA_POSIXSOCKETSLIBRARY_H

#include "socketslibrary.h"

// The sockets library where Windows Sockets are absent: start-up and clean-up always
// succeed and report version 1.1; the host's name comes from gethostname() and its address
// from the first IPv4 address that getaddrinfo() gives for that name.
class PosixSocketsLibrary final : public SocketsLibrary
{
public:
    StartupReply WSAStartup(quint16 requestedVersion) override;
    int WSACleanup() override { return 0; }
    [[nodiscard]] int WSAGetLastError() const override { return m_lastError; }
    int gethostname(QByteArray &buffer) override;
    std::optional<HostEntry> gethostbyname(const QByteArray &name) override;

private:
    int m_lastError = 0;
};

#endif
