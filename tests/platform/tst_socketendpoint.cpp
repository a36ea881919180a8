#include "endpointarray.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "testpeers.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

int thrownNumber(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const PlatformError &error) {
        return error.number();
    }
    return 0;
}

// A listener whose requests are taken over by slot 1 of an endpoint array.
struct AcceptingListener
{
    AcceptingListener()
    {
        trackers.load(1);
        listener.setLocalPort(0);
        listener.Listen();
        QObject::connect(&listener, &SocketEndpoint::connectionRequest, &listener,
                         [this](qint32 id) { trackers(1).Accept(id); });
    }
    SocketEndpoint listener;
    EndpointArray trackers;
};

} // namespace

class tst_SocketEndpoint final : public QObject
{
    Q_OBJECT

private slots:
    void listenReadsBackThePortInUse();
    void listenOnAPortInUseThrows();
    void failedOperationsThrow_data();
    void failedOperationsThrow();
    void acceptedConnectionIsByteExactBothWays();
    void peerAddressOfIPv4PeerIsDotted();
    void dataSentWithTheConnectionIsAnnounced();
    void orderlyCloseByPeerIsACloseEvent();
    void resetByPeerIsAnErrorEvent();
    void requestNotAcceptedIsClosedAtOnce();
    void clientIsByteExactBothWays();
    void clientSendBeforeConnectedThrows();
    void loadedSlotTakesTheTemplatesKeepAlive();
    void queuedBytesGoOutWhenThePeerReads();
    void flushOutputSendsWhatIsQueued();
};

void tst_SocketEndpoint::listenReadsBackThePortInUse()
{
    const quint16 port = freeLoopbackPort();
    SocketEndpoint listener;
    listener.setLocalPort(port);
    listener.Listen();
    QCOMPARE(listener.localPort(), int(port));
    QCOMPARE(listener.state(), SocketEndpoint::State::Listening);

    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(tracker.waitForConnected(5000));
}

void tst_SocketEndpoint::listenOnAPortInUseThrows()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    SocketEndpoint listener;
    listener.setLocalPort(occupant.serverPort());
    QCOMPARE(thrownNumber([&] { listener.Listen(); }), ErrorNumber::AddressInUse);
}

void tst_SocketEndpoint::failedOperationsThrow_data()
{
    QTest::addColumn<int>("expected");
    QTest::addColumn<std::function<void(SocketEndpoint &)>>("operation");

    QTest::newRow("send, never connected") << ErrorNumber::WrongProtocolOrState
                                           << std::function<void(SocketEndpoint &)>(
                                                  [](SocketEndpoint &e) { e.SendData("x"); });
    QTest::newRow("connect to an empty host") << ErrorNumber::HostNotFound
                                              << std::function<void(SocketEndpoint &)>([](SocketEndpoint &e) {
                                                     e.setRemoteHost(QString());
                                                     e.setRemotePort(5001);
                                                     e.Connect();
                                                 });
    QTest::newRow("connect to a name that does not resolve")
        << ErrorNumber::HostNotFound << std::function<void(SocketEndpoint &)>([](SocketEndpoint &e) {
               e.setRemoteHost(QStringLiteral("no-such-host.invalid"));
               e.setRemotePort(5001);
               e.Connect();
           });
    QTest::newRow("accept an unknown request") << ErrorNumber::InvalidArgument
                                               << std::function<void(SocketEndpoint &)>(
                                                      [](SocketEndpoint &e) { e.Accept(987654); });
    QTest::newRow("listen twice") << ErrorNumber::InvalidOperation
                                  << std::function<void(SocketEndpoint &)>([](SocketEndpoint &e) {
                                         e.setLocalPort(0);
                                         e.Listen();
                                         e.Listen();
                                     });
}

void tst_SocketEndpoint::failedOperationsThrow()
{
    QFETCH(int, expected);
    QFETCH(std::function<void(SocketEndpoint &)>, operation);
    SocketEndpoint endpoint;
    QCOMPARE(thrownNumber([&] { operation(endpoint); }), expected);

    EndpointArray trackers;
    trackers.load(1);
    QCOMPARE(thrownNumber([&] { trackers.load(1); }), ErrorNumber::ObjectAlreadyLoaded);
    QCOMPARE(thrownNumber([&] { (void)trackers(2); }), ErrorNumber::ControlArrayElementMissing);
}

void tst_SocketEndpoint::acceptedConnectionIsByteExactBothWays()
{
    AcceptingListener side;
    QByteArray received;
    QObject::connect(&side.trackers, &EndpointArray::dataArrival, &side.trackers,
                     [&](qint16 index, qint32) { received += side.trackers(index).GetData(); });

    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, side.listener.localPort());
    QVERIFY(tracker.waitForConnected(5000));
    const QByteArray bytes = allByteValues().repeated(64);
    tracker.write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), bytes.size(), 10000);
    QCOMPARE(received, bytes);

    side.trackers(1).SendData(bytes);
    QByteArray back;
    QTRY_VERIFY_WITH_TIMEOUT((back += tracker.readAll()).size() == bytes.size(), 10000);
    QCOMPARE(back, bytes);
}

void tst_SocketEndpoint::peerAddressOfIPv4PeerIsDotted()
{
    AcceptingListener side;
    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), side.listener.localPort());
    QVERIFY(tracker.waitForConnected(5000));
    QTRY_COMPARE(side.trackers(1).state(), SocketEndpoint::State::Connected);
    QCOMPARE(side.trackers(1).remoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(side.trackers(1).remotePort(), int(tracker.localPort()));
}

void tst_SocketEndpoint::dataSentWithTheConnectionIsAnnounced()
{
    AcceptingListener side;
    QSignalSpy arrivals(&side.trackers, &EndpointArray::dataArrival);
    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, side.listener.localPort());
    QVERIFY(tracker.waitForConnected(5000));
    tracker.write("$GPRMC,1");
    tracker.flush();
    QTRY_VERIFY(!arrivals.isEmpty());
    QCOMPARE(arrivals.first().at(0).value<qint16>(), qint16(1));
    QCOMPARE(side.trackers(1).GetData(), QByteArray("$GPRMC,1"));
}

void tst_SocketEndpoint::orderlyCloseByPeerIsACloseEvent()
{
    AcceptingListener side;
    QSignalSpy closes(&side.trackers, &EndpointArray::closed);
    QSignalSpy errors(&side.trackers, &EndpointArray::errorOccurred);
    QByteArray received;
    QObject::connect(&side.trackers, &EndpointArray::dataArrival, &side.trackers,
                     [&](qint16 index, qint32) { received += side.trackers(index).GetData(); });

    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, side.listener.localPort());
    QVERIFY(tracker.waitForConnected(5000));
    tracker.write("last words");
    tracker.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(closes.size(), 1, 10000);
    QCOMPARE(received, QByteArray("last words")); // every byte before the close event
    QCOMPARE(errors.size(), 0);
}

void tst_SocketEndpoint::resetByPeerIsAnErrorEvent()
{
    AcceptingListener side;
    QSignalSpy closes(&side.trackers, &EndpointArray::closed);
    QSignalSpy errors(&side.trackers, &EndpointArray::errorOccurred);

    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, side.listener.localPort());
    QVERIFY(tracker.waitForConnected(5000));
    QTRY_COMPARE(side.trackers(1).state(), SocketEndpoint::State::Connected);
    const linger abortive{1, 0};
    QCOMPARE(::setsockopt(int(tracker.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive), 0);
    tracker.abort();

    QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 10000);
    QCOMPARE(errors.first().at(0).value<qint16>(), qint16(1));
    QCOMPARE(errors.first().at(1).value<qint16>(), qint16(ErrorNumber::ConnectionReset));
    QCOMPARE(errors.first().at(2).toString(), QStringLiteral("Connection is reset by remote side"));
    QCOMPARE(closes.size(), 0);
}

void tst_SocketEndpoint::requestNotAcceptedIsClosedAtOnce()
{
    SocketEndpoint listener;
    listener.setLocalPort(0);
    listener.Listen();
    QSignalSpy requests(&listener, &SocketEndpoint::connectionRequest);

    QTcpSocket declined;
    QSignalSpy ended(&declined, &QTcpSocket::disconnected);
    declined.connectToHost(QHostAddress::LocalHost, listener.localPort());
    QVERIFY(declined.waitForConnected(5000));
    QTRY_COMPARE(requests.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
}

void tst_SocketEndpoint::clientIsByteExactBothWays()
{
    FakeOutServer server;
    SocketEndpoint client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(server.port());
    client.Connect();
    QTRY_COMPARE(client.state(), SocketEndpoint::State::Connected);
    QTRY_VERIFY(server.connection != nullptr);

    const QByteArray bytes = allByteValues().repeated(16);
    client.SendData(bytes);
    QTRY_COMPARE(server.received, bytes);

    QByteArray answer;
    QObject::connect(&client, &SocketEndpoint::dataArrival, &client, [&](qint32) { answer += client.GetData(); });
    server.connection->write(bytes);
    QTRY_COMPARE(answer, bytes);
}

void tst_SocketEndpoint::clientSendBeforeConnectedThrows()
{
    const quint16 nobody = freeLoopbackPort();
    SocketEndpoint client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(nobody);
    client.Connect(); // refused later, not here
    QTRY_VERIFY(client.state() != SocketEndpoint::State::Connecting);
    QCOMPARE(thrownNumber([&] { client.SendData("x"); }), ErrorNumber::WrongProtocolOrState);
}

void tst_SocketEndpoint::loadedSlotTakesTheTemplatesKeepAlive()
{
    EndpointArray trackers;
    trackers(0).setKeepAlive({5, 2, 3});
    trackers.load(1);
    QCOMPARE(trackers(1).keepAlive().idleSeconds, 5);
    QCOMPARE(trackers(1).keepAlive().intervalSeconds, 2);
    QCOMPARE(trackers(1).keepAlive().probes, 3);
}

void tst_SocketEndpoint::queuedBytesGoOutWhenThePeerReads()
{
    AcceptingListener side;
    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, side.listener.localPort());
    QVERIFY(tracker.waitForConnected(5000));
    QTRY_COMPARE(side.trackers(1).state(), SocketEndpoint::State::Connected);

    // Far more than the socket buffers hold: most of it waits in the endpoint's queue.
    const QByteArray bytes = allByteValues().repeated(64 * 1024);
    side.trackers(1).SendData(bytes);
    side.trackers(1).SendData("tail");
    QByteArray received;
    QObject::connect(&tracker, &QTcpSocket::readyRead, &tracker, [&] { received += tracker.readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), bytes.size() + 4, 30000);
    QCOMPARE(received, bytes + "tail");
}

void tst_SocketEndpoint::flushOutputSendsWhatIsQueued()
{
    AcceptingListener side;
    const QByteArray bytes = allByteValues().repeated(32 * 1024);

    // The peer reads in a thread of its own, since the flush holds the event loop.
    const int port = side.listener.localPort();
    std::atomic<qint64> total{0};
    QByteArray received;
    std::thread peer([&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return;
        ::usleep(200 * 1000);
        char buffer[65536];
        while (total < bytes.size()) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            received.append(buffer, got);
            total += got;
        }
        ::close(fd);
    });
    QTRY_COMPARE_WITH_TIMEOUT(side.trackers(1).state(), SocketEndpoint::State::Connected, 5000);
    side.trackers(1).SendData(bytes);
    side.trackers(1).flushOutput(std::chrono::seconds(20));
    peer.join();
    QCOMPARE(received.size(), bytes.size());
    QCOMPARE(received, bytes);
}

QTEST_GUILESS_MAIN(tst_SocketEndpoint)
#include "tst_socketendpoint.moc"
