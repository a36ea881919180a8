#ifndef GPSA_TRACKERLINK_H
#define GPSA_TRACKERLINK_H

#include <QByteArray>
#include <QString>

// How a session reaches its tracker, whatever carries the bytes: a TCP connection taken over
// from the listener, or the address of a peer that sends datagrams. What the tracker sends
// reaches the engine by the carrier's own events; the link is the way back and the handle on
// the tracker.
class TrackerLink
{
public:
    virtual ~TrackerLink() = default;

    // The tracker's address ("127.0.0.1") and port, and the local address and port it reached.
    [[nodiscard]] virtual QString peerAddress() const = 0;
    [[nodiscard]] virtual int peerPort() const = 0;
    [[nodiscard]] virtual QString localAddress() const = 0;
    [[nodiscard]] virtual int localPort() const = 0;
    // True for a UDP peer, whose every datagram stands alone.
    [[nodiscard]] virtual bool carriesDatagrams() const { return false; }
    // True while bytes can go to the tracker.
    [[nodiscard]] virtual bool isOpen() const = 0;
    // Throws a PlatformError when the tracker cannot take them.
    virtual void send(const QByteArray &bytes) = 0;
    // While held, nothing more is taken from the tracker: its bytes wait where they are.
    virtual void setHeld(bool held) = 0;
    virtual void close() = 0;
};

#endif
