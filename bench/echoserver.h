#ifndef GPSA_ECHOSERVER_H
#define GPSA_ECHOSERVER_H

#include "loopbacksocket.h"

#include <thread>

// A server on 127.0.0.1 that sends back whatever any of its connections sends, on a thread
// of its own with epoll, for a replay on a thousand connections.
class EchoServer final
{
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer &) = delete;
    EchoServer &operator=(const EchoServer &) = delete;

    [[nodiscard]] quint16 port() const { return m_listener.localPort(); }

private:
    void serve(const std::stop_token &stop);

    // A thousand connections may come at once, faster than the loop accepts them.
    LoopbackSocket m_listener = LoopbackSocket::listen(0, 4096);
    std::jthread m_thread;
};

#endif
