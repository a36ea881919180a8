#include "endpointarray.h"
#include "underwine.h"
#include "loopbacksocket.h"
#include "platformerror.h"
#include "socketendpoint.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <numeric>
#include <thread>

namespace {

using Operation = std::function<void(SocketEndpoint &)>;

int thrownNumber(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const PlatformError &error) {
        return error.number();
    }
    return 0;
}

// Every byte value once, in order.
QByteArray allByteValues()
{
    QByteArray bytes(256, Qt::Uninitialized);
    std::iota(bytes.begin(), bytes.end(), char(0));
    return bytes;
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
    [[nodiscard]] SocketEndpoint &tracker() const { return trackers(1); }
    SocketEndpoint listener;
    EndpointArray trackers;
};

} // namespace

class tst_SocketEndpoint final : public QObject
{
    Q_OBJECT

private slots:
    void failedOperationsThrow_data()
    {
        QTest::addColumn<int>("expected");
        QTest::addColumn<Operation>("operation");
        const int wrongState = ErrorNumber::WrongProtocolOrState;
        QTest::newRow("send, never connected") << wrongState << Operation([](SocketEndpoint &e) { e.SendData("x"); });
        QTest::newRow("connect to an empty host") << ErrorNumber::HostNotFound << Operation([](SocketEndpoint &e) {
            e.setRemotePort(5001);
            e.setRemoteHost(QString());
            e.Connect();
        });
        // The lowest port is tried (and refused later, not here); port 0 is no port.
        for (const int port : {1, 0}) {
            QTest::newRow(qPrintable(QStringLiteral("connect to port %1").arg(port)))
                << (port == 0 ? int(ErrorNumber::InvalidArgument) : 0) << Operation([port](SocketEndpoint &e) {
                       e.setRemoteHost(QStringLiteral("127.0.0.1"));
                       e.setRemotePort(port);
                       e.Connect();
                   });
        }
        QTest::newRow("listen on a port in use") << ErrorNumber::AddressInUse << Operation([](SocketEndpoint &e) {
            static const LoopbackSocket occupant = LoopbackSocket::listen();
            e.setLocalPort(occupant.localPort());
            e.Listen();
        });
        QTest::newRow("send, connection refused") << wrongState << Operation([](SocketEndpoint &e) {
            e.setRemoteHost(QStringLiteral("127.0.0.1"));
            e.setRemotePort(LoopbackSocket::freePort());
            e.Connect(); // refused later, not here
            QVERIFY(QTest::qWaitFor([&] { return e.state() != SocketEndpoint::State::Connecting; }));
            e.SendData("x");
        });
        QTest::newRow("accept an unknown request") << ErrorNumber::InvalidArgument
                                                   << Operation([](SocketEndpoint &e) { e.Accept(987654); });
        QTest::newRow("listen twice") << ErrorNumber::InvalidOperation << Operation([](SocketEndpoint &e) {
            e.setLocalPort(0);
            e.Listen();
            e.Listen();
        });
    }

    void failedOperationsThrow()
    {
        QFETCH(int, expected);
        QFETCH(Operation, operation);
        SocketEndpoint endpoint;
        QCOMPARE(thrownNumber([&] { operation(endpoint); }), expected);

        EndpointArray trackers;
        trackers.load(1);
        QCOMPARE(thrownNumber([&] { trackers.load(1); }), ErrorNumber::ObjectAlreadyLoaded);
        QCOMPARE(thrownNumber([&] { (void)trackers(2); }), ErrorNumber::ControlArrayElementMissing);
    }

    void acceptedConnectionIsByteExactBothWays()
    {
        AcceptingListener side;
        QByteArray received;
        QObject::connect(&side.trackers, &EndpointArray::dataArrival, &side.trackers, [&](qint16 index, qint32) {
            QCOMPARE(index, qint16(1));
            received += side.trackers(index).GetData();
        });

        QTcpSocket tracker;
        tracker.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), side.listener.localPort());
        QVERIFY(tracker.waitForConnected(5000));
        QTRY_COMPARE(side.tracker().state(), SocketEndpoint::State::Connected);
        QCOMPARE(side.tracker().remoteHostIP(), QStringLiteral("127.0.0.1"));
        QCOMPARE(side.tracker().remotePort(), int(tracker.localPort()));
        const QByteArray bytes = allByteValues().repeated(64);
        tracker.write(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), bytes.size(), 10000);
        QCOMPARE(received, bytes);

        // Far more than the socket buffers hold: most of it waits in the endpoint's queue until
        // the peer reads.
        const QByteArray many = bytes.repeated(1024);
        side.tracker().SendData(many);
        side.tracker().SendData("tail");
        QByteArray back;
        QObject::connect(&tracker, &QTcpSocket::readyRead, &tracker, [&] { back += tracker.readAll(); });
        QTRY_COMPARE_WITH_TIMEOUT(back.size(), many.size() + 4, 30000);
        QCOMPARE(back, many + "tail");
    }

    void heldConnectionStillSeesItsEnd()
    {
        // Nothing is read while held, but a peer that leaves ends the hold: its last bytes are
        // told, then its close.
        GPSA_SKIP_ON_WINE("WSAPoll() reports a peer's end (POLLHUP) only once the bytes before it are read");
        AcceptingListener side;
        QStringList events;
        QObject::connect(&side.trackers, &EndpointArray::dataArrival, &side.trackers,
                         [&] { events.append(QString::fromLatin1(side.tracker().GetData())); });
        QObject::connect(&side.trackers, &EndpointArray::closed, &side.trackers,
                         [&] { events.append(QStringLiteral("closed")); });
        LoopbackSocket tracker = LoopbackSocket::connectTo(quint16(side.listener.localPort()));
        QTRY_COMPARE(side.tracker().state(), SocketEndpoint::State::Connected);
        side.tracker().setHeld(true);
        QVERIFY(tracker.sendAll(QByteArray("last words")));
        QTest::qWait(100);
        QCOMPARE(events, QStringList());
        tracker.close();
        QTRY_COMPARE(events, (QStringList{QStringLiteral("last words"), QStringLiteral("closed")}));
    }

    void finishSendsWhatIsQueued()
    {
        AcceptingListener side;
        const QByteArray bytes = allByteValues().repeated(32 * 1024);
        // The peer reads on a thread of its own, since the flush holds the event loop.
        QByteArray received;
        std::jthread peer([&, port = side.listener.localPort()] {
            LoopbackSocket tracker = LoopbackSocket::connectTo(quint16(port));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            tracker.readUntilEnd(&received, 20000);
        });
        QTRY_COMPARE_WITH_TIMEOUT(side.tracker().state(), SocketEndpoint::State::Connected, 5000);
        side.tracker().SendData(bytes);
        side.tracker().finish(QDeadlineTimer(std::chrono::seconds(20)));
        peer.join();
        QCOMPARE(received, bytes);
    }
};

QTEST_GUILESS_MAIN(tst_SocketEndpoint)
#include "tst_socketendpoint.moc"
