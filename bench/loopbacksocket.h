#ifndef GPSA_LOOPBACKSOCKET_H
#define GPSA_LOOPBACKSOCKET_H

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <utility>

// A non-blocking TCP socket on the loopback address, driven by the benchmark's own poll
// loops rather than an event loop, so that the harness adds as little as it can to what
// it measures. Linux only, like the benchmark.
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

    // A listener on 127.0.0.1; port zero binds to a free port.
    [[nodiscard]] static LoopbackSocket listen(quint16 port = 0);
    // Waits at most timeout for a connection; an invalid socket when none came.
    [[nodiscard]] LoopbackSocket accept(std::chrono::milliseconds timeout) const;
    // Connects to 127.0.0.1:port, retrying while nobody listens there yet; an invalid socket
    // when the time ran out.
    [[nodiscard]] static LoopbackSocket connectTo(quint16 port, std::chrono::milliseconds timeout);
    // A port that was free a moment ago.
    [[nodiscard]] static quint16 freePort();

    [[nodiscard]] bool isValid() const { return m_fd != -1; }
    [[nodiscard]] int descriptor() const { return m_fd; }
    [[nodiscard]] quint16 localPort() const;

    // Bytes sent, 0 when the network takes nothing now; -1 on a broken connection.
    qsizetype send(const char *data, qsizetype size);
    // Sends everything, waiting for room as needed; false on a broken connection.
    bool sendAll(const char *data, qsizetype size);
    // Bytes received, 0 when nothing waits; -1 once the peer has closed or on an error.
    qsizetype receive(char *data, qsizetype size);

    void close();

private:
    int m_fd = -1;
};

#endif
