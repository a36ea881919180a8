#include "echoserver.h"

#include <QByteArray>

#include <map>

#include <sys/epoll.h>
#include <unistd.h>

EchoServer::EchoServer()
{
    m_thread = std::jthread([this](const std::stop_token &stop) { serve(stop); });
}

EchoServer::~EchoServer()
{
    m_thread.request_stop();
    m_thread.join();
}

void EchoServer::serve(const std::stop_token &stop)
{
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event listening{EPOLLIN, {}};
    listening.data.fd = m_listener.descriptor();
    ::epoll_ctl(poller, EPOLL_CTL_ADD, m_listener.descriptor(), &listening);
    std::map<int, LoopbackSocket> connections;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    epoll_event events[256];
    while (!stop.stop_requested()) {
        const int ready = ::epoll_wait(poller, events, 256, 100);
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_listener.descriptor()) {
                for (LoopbackSocket accepted = m_listener.accept(std::chrono::milliseconds(0)); accepted.isValid();
                     accepted = m_listener.accept(std::chrono::milliseconds(0))) {
                    epoll_event readable{EPOLLIN, {}};
                    readable.data.fd = accepted.descriptor();
                    ::epoll_ctl(poller, EPOLL_CTL_ADD, accepted.descriptor(), &readable);
                    connections.emplace(accepted.descriptor(), std::move(accepted));
                }
                continue;
            }
            LoopbackSocket &connection = connections.at(fd);
            const qsizetype got = connection.receive(buffer.data(), buffer.size());
            // Answers are small and few: the echo waits for room rather than queueing.
            if (got < 0 || (got > 0 && !connection.sendAll(buffer.constData(), got))) {
                ::epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
                connections.erase(fd);
            }
        }
    }
    ::close(poller);
}
