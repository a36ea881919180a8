#ifndef GPSA_SOCKETSLIBRARY_H
#define GPSA_SOCKETSLIBRARY_H

#include <QByteArray>
#include <QtGlobal>

#include <memory>
#include <optional>

// The host's sockets library, as far as finding the local address needs it: the Windows
// Sockets 1.1 calls on Windows, their POSIX counterparts elsewhere, a fake in tests.
class SocketsLibrary
{
public:
    // What the start-up call reports.
    struct StartupReply
    {
        int result = 0;          // 0 on success
        quint16 version = 0;     // the version the library will use: major in the low byte
        quint16 maxSockets = 0;  // the maximum number of sockets, as the library's 16-bit word
    };

    // What the host lookup reports of a name's host entry.
    struct HostEntry
    {
        qint16 length = 0;       // the address length, as the library's signed 16-bit field
        QByteArray firstAddress; // the first address's bytes, network order; may be shorter than length
    };

    virtual ~SocketsLibrary() = default;

    virtual StartupReply WSAStartup(quint16 requestedVersion) = 0;
    // 0 on success.
    virtual int WSACleanup() = 0;
    // The error number of the call that failed last.
    [[nodiscard]] virtual int WSAGetLastError() const = 0;
    // Fills buffer (its size is the length handed to the library) with the host's name ended
    // by a NUL byte; returns -1 on failure.
    virtual int gethostname(QByteArray &buffer) = 0;
    // The host entry of name, or nothing when the name cannot be resolved.
    virtual std::optional<HostEntry> gethostbyname(const QByteArray &name) = 0;
};

// The library of the platform the program runs on.
[[nodiscard]] std::unique_ptr<SocketsLibrary> systemSocketsLibrary();

#endif
