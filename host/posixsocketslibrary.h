#ifndef GPSA_POSIXSOCKETSLIBRARY_H
#define GPSA_POSIXSOCKETSLIBRARY_H

#include "socketslibrary.h"

// The sockets library where Windows Sockets are absent: start-up and clean-up always
// succeed and report version 1.1; the host's name comes from gethostname(). The machine's
// own name gives the first IPv4 address of an interface that is up, the loopback last: a
// name service may be off the machine, and hosts files often map the name to 127.0.1.1, where
// no tracker can reach the program. Other names give the first IPv4 address of getaddrinfo().
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
