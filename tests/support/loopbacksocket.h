#ifndef GPSA_LOOPBACKSOCKET_H
#define GPSA_LOOPBACKSOCKET_H

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <stop_token>
#include <utility>

// A non-blocking TCP socket on the loopback address, for the peers of the tests and the
// benchmark: driven by poll loops on a thread of the caller's choosing, so that it sends and
// reads as fast as loopback allows whatever the engine's event loop is doing, and able to
// break a connection in the ways that Qt's sockets do not offer (a reset, a half-close, a
// peer that goes silent).
class LoopbackSocket final
{
public:
    LoopbackSocket() = default;
    explicit LoopbackSocket(int descriptor) : m_fd(descriptor) {}
    ~LoopbackSocket() { close(); }
    LoopbackSocket(LoopbackSocket &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    LoopbackSocket &operator=(LoopbackSocket &&other) noexcept;
    LoopbackSocket(const LoopbackSocket &) = delete;
    LoopbackSocket &operator=(const LoopbackSocket &) = delete;

    // A listener on 127.0.0.1; port zero binds to a free port. backlog: the connections that may
    // wait to be accepted.
    [[nodiscard]] static LoopbackSocket listen(quint16 port = 0, int backlog = 64);
    // Waits at most timeout for a connection, or until stop is asked; an invalid socket then.
    [[nodiscard]] LoopbackSocket accept(std::chrono::milliseconds timeout, const std::stop_token &stop = {}) const;
    // Connects to 127.0.0.1:port, retrying while nobody listens there yet; an invalid socket
    // when the time ran out.
    [[nodiscard]] static LoopbackSocket connectTo(quint16 port,
                                                  std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // A port that was free a moment ago.
    [[nodiscard]] static quint16 freePort();

    [[nodiscard]] bool isValid() const { return m_fd != -1; }
    [[nodiscard]] int descriptor() const { return m_fd; }
    [[nodiscard]] quint16 localPort() const;

    // Bytes sent, 0 when the network takes nothing now; -1 on a broken connection.
    qsizetype send(const char *data, qsizetype size);
    // Sends everything, waiting for room as needed; false on a broken connection or once stop
    // is asked. sent counts the bytes that the network took.
    bool sendAll(const char *data, qsizetype size, const std::stop_token &stop = {},
                 std::atomic<qint64> *sent = nullptr);
    bool sendAll(const QByteArray &bytes, const std::stop_token &stop = {}, std::atomic<qint64> *sent = nullptr)
    {
        return sendAll(bytes.constData(), bytes.size(), stop, sent);
    }
    // Bytes received, 0 when nothing waits; -1 once the peer has closed or on an error.
    qsizetype receive(char *data, qsizetype size);
    // Reads until the peer ends the connection, in order or by a reset (true), or until
    // timeoutMs pass without a byte (false).
    bool readUntilEnd(QByteArray *into, int timeoutMs);
    [[nodiscard]] bool seesEnd(int timeoutMs) { return readUntilEnd(nullptr, timeoutMs); }

    enum Readiness : short { Readable = 1, Writable = 2, Broken = 4 };
    // Waits at most timeoutMs for the readiness asked; gives what came, with Broken once the
    // connection has ended or failed, or 0.
    [[nodiscard]] short wait(short events, int timeoutMs) const;

    // Closing then resets the connection instead of ending it in order.
    void resetOnClose();
    // From now on every segment that arrives is dropped before TCP sees it: no byte, no
    // acknowledgement and no reset goes back, as from a tracker whose link died. False where
    // the system has no socket filters (Windows).
    [[nodiscard]] bool ignoreEverything();
    void halfClose();
    void close();

    // The number of descriptors open in this process.
    [[nodiscard]] static int openDescriptorCount();
    // size pseudo-random bytes from seed.
    [[nodiscard]] static QByteArray randomBytes(qsizetype size, quint32 seed);

private:
    int m_fd = -1;
};

#endif
