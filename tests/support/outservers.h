#ifndef GPSA_OUTSERVERS_H
#define GPSA_OUTSERVERS_H

#include "loopbacksocket.h"

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <thread>

// An OUT server on the test's event loop: accepts connections on 127.0.0.1 and keeps
// everything the last one sends.
class FakeOutServer final : public QObject
{
public:
    FakeOutServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                connection = s;
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { received += s->readAll(); });
            }
        });
    }
    [[nodiscard]] quint16 port() const { return server.serverPort(); }

    QTcpServer server;
    QTcpSocket *connection = nullptr;
    QByteArray received;
};

// An OUT server on a thread of its own, for floods: it takes one connection, checks what
// arrives against the bytes it expects, byte by byte and in order, and meanwhile sends its
// answer as fast as the connection takes it (with answerOnceRead, from its first read on).
// Reading can be paused, so that its receive window fills.
class ThreadedOutServer final
{
public:
    ThreadedOutServer(QByteArray expected, QByteArray answer, bool answerOnceRead = false);
    ~ThreadedOutServer();
    ThreadedOutServer(const ThreadedOutServer &) = delete;
    ThreadedOutServer &operator=(const ThreadedOutServer &) = delete;

    [[nodiscard]] quint16 port() const { return m_listener.localPort(); }
    void setReading(bool reading) { m_reading = reading; }
    // Ends the connection; with bytes still unread, that is a reset.
    void closeConnection() { m_closing = true; }

    [[nodiscard]] qint64 received() const { return m_received; }
    // The offset of the first byte that differs from what was expected, -1 while none does;
    // bytes beyond the expected ones count as different.
    [[nodiscard]] qint64 firstMismatch() const { return m_firstMismatch; }

private:
    void serve(const std::stop_token &stop);
    void take(const char *bytes, qint64 count);

    const QByteArray m_expected;
    const QByteArray m_answer;
    const bool m_answerOnceRead;
    LoopbackSocket m_listener = LoopbackSocket::listen();
    std::atomic<bool> m_reading{true};
    std::atomic<bool> m_closing{false};
    std::atomic<qint64> m_received{0};
    std::atomic<qint64> m_answerSent{0};
    std::atomic<qint64> m_firstMismatch{-1};
    std::jthread m_thread;
};

#endif
