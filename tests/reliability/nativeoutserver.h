#ifndef GPSA_NATIVEOUTSERVER_H
#define GPSA_NATIVEOUTSERVER_H

#include <QByteArray>

#include <atomic>
#include <thread>

// An OUT server on a thread of its own: it takes one connection, checks what arrives against
// the bytes it expects, byte by byte and in order, and meanwhile sends its answer as fast as
// the connection takes it. Reading can be paused, so that its receive window fills.
class NativeOutServer final
{
public:
    NativeOutServer(QByteArray expected, QByteArray answer);
    ~NativeOutServer();
    NativeOutServer(const NativeOutServer &) = delete;
    NativeOutServer &operator=(const NativeOutServer &) = delete;

    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] bool isListening() const { return m_listener >= 0; }

    void setReading(bool reading) { m_reading = reading; }
    // Ends the connection; with bytes still unread, that is a reset.
    void closeConnection() { m_closing = true; }

    [[nodiscard]] qint64 received() const { return m_received; }
    [[nodiscard]] qint64 answerSent() const { return m_answerSent; }
    // The offset of the first byte that differs from what was expected, -1 while none does;
    // bytes beyond the expected ones count as different.
    [[nodiscard]] qint64 firstMismatch() const { return m_firstMismatch; }
    [[nodiscard]] bool hasConnection() const { return m_connected; }

private:
    void serve(const std::stop_token &stop);
    void take(const char *bytes, qint64 count);

    const QByteArray m_expected;
    const QByteArray m_answer;
    quint16 m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_reading{true};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_closing{false};
    std::atomic<qint64> m_received{0};
    std::atomic<qint64> m_answerSent{0};
    std::atomic<qint64> m_firstMismatch{-1};
    std::jthread m_thread;
};

#endif
