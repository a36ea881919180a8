#ifndef GPSA_GLOBALMODULE_H
#define GPSA_GLOBALMODULE_H

#include <QString>
#include <QtGlobal>

#include <functional>

class SocketsLibrary;

// The connection log as the status line writer changes it: a line put on top of it, or its
// whole text replaced.
struct StatusLog
{
    std::function<void(const QString &line)> prepend;
    std::function<void(const QString &text)> replace;
};

// The routines shared beyond the window: the local address through the host's sockets
// library, and the status line writer of the connection log. One instance belongs to one
// window or front end; nothing is shared between instances.
class GLOBALModule final
{
public:
    GLOBALModule(StatusLog log, SocketsLibrary &sockets);

    // The host's first IPv4 address in dotted decimal, or the empty text when none was found;
    // every problem on the way becomes a status line.
    [[nodiscard]] QString GetLocalIPAddress();
    // True when the library has started and is suitable (version 1.1 or later, at least one
    // socket). A refused library is not cleaned up.
    [[nodiscard]] bool SocketsInitialize();
    void SocketsCleanup();

    [[nodiscard]] static int HiByte(quint16 word) { return (word >> 8) & 0xFF; }
    [[nodiscard]] static int LoByte(quint16 word) { return word & 0xFF; }

    // Puts a timestamped line at the top of the connection log; after 50 such lines the next one
    // replaces the whole text. A failure while writing is reported in the log below the message's
    // line and is not passed on; only a failure of those two writes reaches the caller.
    void AddStatusMessage(const QString &message);
    [[nodiscard]] qint32 StatusLineCount() const { return m_statusLineCount; }

    // The version word requested of the library: 1.1.
    static constexpr quint16 RequestedVersion = 257;
    // Status lines that go on top before the next one replaces the whole text.
    static constexpr qint32 StatusLineLimit = 50;
    // Size of the host name buffer handed to the library.
    static constexpr int HostNameBufferSize = 256;

private:
    StatusLog m_log;
    SocketsLibrary &m_sockets;
    qint32 m_statusLineCount = 0;
};

#endif
