#include "liveviewers.h"

#include <QElapsedTimer>

#include <poll.h>

LiveViewers::LiveViewers(quint16 port, const QByteArray &token, int count)
{
    const QByteArray request = "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                               "Authorization: Bearer " +
                               token + "\r\n\r\n";
    for (int i = 0; i < count && m_problem.isEmpty(); ++i) {
        LoopbackSocket socket = LoopbackSocket::connectTo(port);
        if (!socket.isValid() || !socket.sendAll(request)) {
            m_problem = QStringLiteral("viewer %1 could not connect to the live view").arg(i + 1);
            break;
        }
        // The answer's head, then the messages that bring the viewer up to date follow.
        QByteArray answer;
        QElapsedTimer waited;
        waited.start();
        char buffer[4096];
        while (!answer.contains("\r\n\r\n") && waited.elapsed() < 10000) {
            pollfd ready{socket.descriptor(), POLLIN, 0};
            ::poll(&ready, 1, 100);
            const qsizetype got = socket.receive(buffer, sizeof buffer);
            if (got < 0)
                break;
            answer.append(buffer, got);
        }
        if (!answer.startsWith("HTTP/1.1 101")) {
            m_problem = QStringLiteral("viewer %1 was not let in: %2").arg(i + 1).arg(QString::fromLatin1(answer.left(40)));
            break;
        }
        m_sockets.push_back(std::move(socket));
    }
    m_reader = std::jthread([this](const std::stop_token &stop) { read(stop); });
}

LiveViewers::~LiveViewers()
{
    m_reader.request_stop();
    m_reader.join();
}

QString LiveViewers::problem() const
{
    if (!m_problem.isEmpty())
        return m_problem;
    return m_closed > 0 ? QStringLiteral("%1 live viewer(s) dropped").arg(m_closed.load()) : QString();
}

void LiveViewers::read(const std::stop_token &stop)
{
    std::vector<bool> open(m_sockets.size(), true);
    std::vector<pollfd> ready(m_sockets.size());
    static char buffer[1 << 16];
    while (!stop.stop_requested()) {
        for (size_t i = 0; i < m_sockets.size(); ++i)
            ready[i] = {open[i] ? m_sockets[i].descriptor() : -1, POLLIN, 0};
        if (::poll(ready.data(), nfds_t(ready.size()), 50) <= 0)
            continue;
        for (size_t i = 0; i < m_sockets.size(); ++i) {
            if (ready[i].revents == 0)
                continue;
            for (qsizetype got; (got = m_sockets[i].receive(buffer, sizeof buffer)) != 0;) {
                if (got < 0) {
                    open[i] = false;
                    ++m_closed;
                    break;
                }
                m_received += got;
            }
        }
    }
}
