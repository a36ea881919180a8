#ifndef GPSA_FAKESOCKETSLIBRARY_H
#define GPSA_FAKESOCKETSLIBRARY_H

#include "socketslibrary.h"

#include <QByteArrayList>
#include <QList>

// A sockets library whose every answer the test sets, with a record of the calls made.
// By default it starts version 1.1 with 100 sockets, names the host "tracker-host" with
// blanks around it and old bytes after its NUL, and resolves it to 192.168.1.10.
class FakeSocketsLibrary final : public SocketsLibrary
{
public:
    StartupReply WSAStartup(quint16 requestedVersion) override
    {
        requestedVersions.append(requestedVersion);
        calls.append("WSAStartup");
        return startupReply;
    }
    int WSACleanup() override
    {
        calls.append("WSACleanup");
        return cleanupResult;
    }
    [[nodiscard]] int WSAGetLastError() const override { return lastError; }
    int gethostname(QByteArray &buffer) override
    {
        calls.append("gethostname");
        hostNameBufferSizes.append(buffer.size());
        if (hostNameFails)
            return -1;
        buffer.replace(0, hostName.size(), hostName);
        return 0;
    }
    std::optional<HostEntry> gethostbyname(const QByteArray &name) override
    {
        calls.append("gethostbyname");
        lookedUp.append(name);
        return entry;
    }

    StartupReply startupReply{0, 0x0101, 100};
    int cleanupResult = 0;
    int lastError = 0;
    bool hostNameFails = false;
    // Written into the buffer as it is: end it with a NUL byte.
    QByteArray hostName = QByteArrayLiteral("  tracker-host \0left over");
    std::optional<HostEntry> entry = HostEntry{4, QByteArray("\xC0\xA8\x01\x0A", 4)};

    QByteArrayList calls;
    QList<quint16> requestedVersions;
    QList<qsizetype> hostNameBufferSizes;
    QByteArrayList lookedUp;
};

#endif
