#ifndef GPSA_FLEETLOAD_H
#define GPSA_FLEETLOAD_H

#include "loopbacksocket.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The fleet run's two ends, each on a thread of its own with epoll: trackers that each send a
// message every interval, and an echo server that sends back whatever each connection sends
// and times each message from its send to its arrival. A message is MessageSize bytes: the
// tracker's number, the message's number and its send time, then filling, then CR LF.
namespace Fleet {

inline constexpr qsizetype MessageSize = 100;

// Nanoseconds of the clock that the messages carry.
[[nodiscard]] qint64 nowNs();

class EchoTimer final
{
public:
    EchoTimer();
    ~EchoTimer();
    EchoTimer(const EchoTimer &) = delete;
    EchoTimer &operator=(const EchoTimer &) = delete;

    [[nodiscard]] quint16 port() const { return m_listener.localPort(); }
    // Connections taken so far.
    [[nodiscard]] int connections() const { return m_connections; }
    // Send-to-arrival times in microseconds of the messages that arrived since the last call.
    [[nodiscard]] QList<double> takeMicros();

private:
    void serve(const std::stop_token &stop);

    LoopbackSocket m_listener = LoopbackSocket::listen();
    std::atomic<int> m_connections{0};
    std::mutex m_lock;
    QList<double> m_micros;
    std::jthread m_thread;
};

class Trackers final
{
public:
    struct Result
    {
        int firstId = 0;
        QList<QByteArray> sent;     // by tracker, from firstId
        QList<QByteArray> received; // by tracker
        QList<quint16> ports;       // each tracker's own port
        qint64 connectedMs = 0;
        QString problem;
    };

    // Connects count trackers to port, numbered from firstId, and once ready() (every tracker
    // relayed, say) each sends a message every interval for duration, the first messages of the
    // trackers spread evenly over one interval; then waits up to patience for every echo and
    // closes them all. connectedMs: from the first connect to ready.
    [[nodiscard]] static Result run(quint16 port, int count, int firstId, std::chrono::milliseconds interval,
                                    std::chrono::milliseconds duration, std::chrono::seconds patience,
                                    const std::function<bool()> &ready);
};

// Checks a capture folder's chunks of one port against what each tracker sent: each chunk
// holds whole messages of one tracker, and each tracker's chunks, in number order, hold what it
// sent. Empty when they do; otherwise what is wrong.
[[nodiscard]] QString checkCaptured(const QString &folder, quint16 port, const QHash<int, QByteArray> &sent,
                                    qint64 &captured);

} // namespace Fleet

#endif
