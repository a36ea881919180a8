#ifndef GPSA_WINSOCKETSLIBRARY_H
#define GPSA_WINSOCKETSLIBRARY_H

#include "socketslibrary.h"

// The Windows Sockets 1.1 library WSOCK32, called as it is.
class WinSocketsLibrary final : public SocketsLibrary
{
public:
    StartupReply WSAStartup(quint16 requestedVersion) override;
    int WSACleanup() override;
    [[nodiscard]] int WSAGetLastError() const override;
    int gethostname(QByteArray &buffer) override;
    std::optional<HostEntry> gethostbyname(const QByteArray &name) override;
};

#endif
