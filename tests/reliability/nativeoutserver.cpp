#include "nativeoutserver.h"

#include "loopbackpeer.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

NativeOutServer::NativeOutServer(QByteArray expected, QByteArray answer)
    : m_expected(std::move(expected)), m_answer(std::move(answer))
{
    m_listener = LoopbackPeer::listenOnFreePort(m_port);
    if (m_listener >= 0)
        m_thread = std::jthread([this](const std::stop_token &stop) { serve(stop); });
}

NativeOutServer::~NativeOutServer()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
    LoopbackPeer::closeSocket(m_listener);
}

void NativeOutServer::take(const char *bytes, qint64 count)
{
    const qint64 at = m_received;
    if (m_firstMismatch < 0) {
        const qint64 comparable = qMin(count, qint64(m_expected.size()) - at);
        for (qint64 i = 0; i < count; ++i) {
            if (i >= comparable || bytes[i] != m_expected[at + i]) {
                m_firstMismatch = at + i;
                break;
            }
        }
    }
    m_received = at + count;
}

void NativeOutServer::serve(const std::stop_token &stop)
{
    const int fd = LoopbackPeer::acceptOne(m_listener, -1, stop);
    if (fd < 0)
        return;
    m_connected = true;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    while (!stop.stop_requested() && !m_closing) {
        const bool answering = m_answerSent < m_answer.size();
        pollfd p{fd, short((m_reading ? POLLIN : 0) | (answering ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        if (p.revents & POLLIN) {
            const ssize_t n = ::recv(fd, buffer.data(), size_t(buffer.size()), MSG_DONTWAIT);
            if (n > 0)
                take(buffer.constData(), n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break; // the engine never closes its end while the test runs
        }
        if (p.revents & POLLOUT) {
            const qint64 at = m_answerSent;
            const ssize_t n = ::send(fd, m_answer.constData() + at, size_t(qMin<qint64>(m_answer.size() - at, 256 * 1024)),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                m_answerSent = at + n;
        }
        if ((p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLIN))
            break;
    }
    LoopbackPeer::closeSocket(fd);
}
