#ifndef GPSA_TESTPEERS_H
#define GPSA_TESTPEERS_H

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

// A loopback port that was free a moment ago (the start-up refuses port 0).
[[nodiscard]] inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

// A fake OUT server: accepts one connection and keeps everything it receives.
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

#endif
