#ifndef GPSA_LIVEVIEWERS_H
#define GPSA_LIVEVIEWERS_H

#include "loopbacksocket.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>
#include <vector>

// Browsers watching the program's live view: each opens the page's WebSocket with the token and
// then reads everything it is sent as fast as loopback allows, on a thread of their own, as a
// browser on a fast machine would.
class LiveViewers final
{
public:
    LiveViewers(quint16 port, const QByteArray &token, int count);
    ~LiveViewers();
    LiveViewers(const LiveViewers &) = delete;
    LiveViewers &operator=(const LiveViewers &) = delete;

    // Empty while every viewer was let in and none has been closed; otherwise what went wrong.
    [[nodiscard]] QString problem() const;
    // Bytes all of them received after their handshakes.
    [[nodiscard]] qint64 received() const { return m_received; }

private:
    void read(const std::stop_token &stop);

    std::vector<LoopbackSocket> m_sockets;
    QString m_problem;
    std::atomic<int> m_closed = 0;
    std::atomic<qint64> m_received = 0;
    std::jthread m_reader;
};

#endif
