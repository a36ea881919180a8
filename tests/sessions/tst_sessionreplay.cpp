#include "capturefolder.h"
#include "nativesocket.h"
#include "replaycommand.h"
#include "sessionfolder.h"
#include "sessionindex.h"
#include "underwine.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

class tst_SessionReplay final : public QObject
{
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
    void refused_data();
    void refused();
    void everyConnectionOfAFleet();
    void udpAsDatagrams();
};

void tst_SessionReplay::replay_data()
{
    QTest::addColumn<QString>("options");
    // echo (on IPv6 loopback, or of all 11 bytes at the end), reset (at the first chunk) or down
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("summary");         // a regular expression for the output's start
    QTest::addColumn<QList<qint64>>("answersMs"); // after the connect; empty: not timed
    QTest::addColumn<QByteArray>("errorLog");

    const QString answered =
        u"Connections: 1 made, 0 failed, 0 reset or closed early\nSent: 3 chunks, 11 bytes\n"
        "Answers: 3 chunks, 11 bytes\nChunk to answer: p50 [^\n]* \\(3 of 3 chunks answered\\)"_s;
    QTest::newRow("recorded gaps") << u"--speed 1"_s << u"echo"_s << answered << QList<qint64>{100, 400, 500}
                                   << QByteArray();
    QTest::newRow("twice as fast") << u"--speed 2"_s << u"echo on IPv6 loopback"_s << answered << QList<qint64>{50, 200, 250}
                                   << QByteArray();
    // One answer a connection: the server shares the test's event loop with 200 connections,
    // where an echo of each chunk may come later than the quiet time after the first answer.
    QTest::newRow("200 trackers")
        << u"--trackers 200 --no-wait"_s << u"echo at the end"_s
        << u"Connections: 200 made, 0 failed, 0 reset or closed early\nSent: 600 chunks, "
           "2200 bytes\nAnswers: \\d+ chunks, 2200 bytes\n[^\n]*\\(600 of 600 chunks answered"_s
        << QList<qint64>() << QByteArray();
    QTest::newRow("refused") << QString() << u"down"_s
                             << u"Connections: 0 made, 1 failed, 0 reset or closed early"_s << QList<qint64>()
                             << "Connection is forcefully rejected\r\n"_ba;
    // The first session, on one connection, named with the lowest values the options take.
    QTest::newRow("reset") << u"--session 1 --trackers 1 --in-port 1"_s << u"reset"_s
                           << u"Connections: 1 made, 0 failed, 1 reset or closed early\nSent: 1 chunk, 43 bytes\n"_s
                           << QList<qint64>() << "Connection is reset by remote side\r\n"_ba;
}

// The last session of the two runs, three chunks sent 100, 400 and 500 ms after the connect, replayed
// against a server in the test; its echoes, captured and indexed, tell what arrived on each connection,
// and when.
void tst_SessionReplay::replay()
{
    QFETCH(QString, options);
    QFETCH(QString, server);
    QFETCH(QString, summary);
    QFETCH(QList<qint64>, answersMs);
    QFETCH(QByteArray, errorLog);
    if (server == "reset"_L1)
        GPSA_SKIP_ON_WINE("closesocket() after SO_LINGER 0 ends the connection in order instead of "
                          "resetting it");
    SessionFolder f;
    f.recordTwoRuns();
    QTcpServer fake;
    fake.setListenBacklogSize(1024);
    fake.setMaxPendingConnections(1024);
    const bool echo = server.startsWith("echo"_L1);
    const bool v6 = server.endsWith("IPv6 loopback"_L1);
    const qint64 echoFrom = server.endsWith("at the end"_L1) ? 11 : 1;
    if (!fake.listen(v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0))
        QSKIP("no loopback of this kind");
    const QString address = (v6 ? u"[::1]:%1"_s : u"127.0.0.1:%1"_s).arg(fake.serverPort());
    connect(&fake, &QTcpServer::newConnection, this, [&fake, echo, echoFrom] {
        while (QTcpSocket *s = fake.nextPendingConnection())
            connect(s, &QTcpSocket::readyRead, s, [s, echo, echoFrom] {
                if (!echo) {
                    NativeSocket::resetOnClose(s->socketDescriptor()); // closing resets the connection
                    s->abort();
                } else if (s->bytesAvailable() >= echoFrom) {
                    s->write(s->readAll());
                }
            });
    });
    if (server == "down"_L1)
        fake.close();
    QTemporaryDir output;

    const auto [status, printed, errors] =
        runCommand(replayCommand, QStringList{u"replay"_s, u"--capture-dir"_s, f.dir.path(), u"--to"_s,
                                              address, u"--output"_s, output.path()} +
                                      options.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    QCOMPARE(status, echo ? 0 : 1);
    QVERIFY2(printed.contains(QRegularExpression(u"^"_s + summary)), qPrintable(printed + errors));
    const CaptureFolder captures(output.path());
    QCOMPARE(captures.problem(), QString());
    const SessionIndex answers = SessionIndex::read(output.path());
    QMap<QString, QByteArray> echoes; // by the connection's local address, in the note
    QList<qint64> answerMs;
    qint64 connectUs = 0, previousUs = 0;
    for (const RecordedEvent &e : answers.events()) { // with the server as peer, at times that increase
        QCOMPARE(e.event.peer, address);
        QVERIFY(e.event.timeUs >= std::exchange(previousUs, e.event.timeUs));
        connectUs = e.event.kind == Kind::Connect ? e.event.timeUs : connectUs;
        if (e.event.kind == Kind::Out) {
            echoes[e.event.note] += answers.bytesOf(e);
            answerMs.append((e.event.timeUs - connectUs) / 1000);
        }
    }
    const SessionEvent &last = answers.events().last().event;
    QCOMPARE(last.kind, status == 0 ? Kind::Disconnect : Kind::Error);
    QCOMPARE(CaptureFolder::contents(output.filePath(last.file)), errorLog); // none after a disconnect
    QCOMPARE(echoes.size(), status == 0 ? printed.section(QLatin1Char(' '), 1, 1).toInt() : 0);
    QCOMPARE(echoes.values(), QList<QByteArray>(echoes.size(), "onetwothree"));
    for (int i = 0; i < answersMs.size(); ++i) // the recorded gaps, within 20 ms
        QVERIFY2(qAbs(answerMs.value(i, -1000) - answersMs[i]) <= 20,
                 qPrintable(QString::number(answerMs.value(i))));
}

void tst_SessionReplay::refused_data()
{
    QTest::addColumn<QString>("arguments"); // split at spaces
    QTest::addColumn<QString>("message");
    for (const auto &[arguments, message] :
         {std::pair{"replay", "--to HOST:PORT is needed"}, {"replay --to 127.0.0.1", "--to takes HOST:PORT"},
          {"replay --to 127.0.0.1:0", "--to takes HOST:PORT"}, {"replay --to 127.0.0.1:65536", "--to takes HOST:PORT"},
          {"replay --to 127.0.0.1:5001 --speed 0", "--speed takes a number above 0"},
          {"replay --to 127.0.0.1:5001 --speed 2 --no-wait", "--speed and --no-wait exclude each other"},
          {"replay --to 127.0.0.1:5001 --trackers 0", "--trackers takes a number from 1"},
          {"replay --to 127.0.0.1:5001 --in-port 65536", "--in-port takes a port"}})
        QTest::newRow(arguments) << QString::fromLatin1(arguments) << QString::fromLatin1(message);
}

// Exit status 2, the problem and the usage for a wrong option; the program itself hands the
// subcommand its arguments.
void tst_SessionReplay::refused()
{
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    const QStringList list = arguments.split(QLatin1Char(' '));
    const auto [status, output, errors] = runCommand(replayCommand, list);
    QCOMPARE(status, 2);
    QVERIFY2(errors.startsWith(u"gps-analyzer replay: "_s + message) &&
                 errors.contains(u"\nUsage: gps-analyzer replay [options]"_s),
             qPrintable(errors));
    QProcess program;
    program.start(QStringLiteral(GPSA_ANALYZER_BINARY), list);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 2);
    // Windows ends the program's lines with CR LF.
    QCOMPARE(QString::fromUtf8(program.readAllStandardError()).remove(QLatin1Char('\r')), errors);
}

// Each connection of a fleet's run as its own tracker, at its recorded start: Tracker2 100 ms
// after Tracker1, here at four times the speed.
void tst_SessionReplay::everyConnectionOfAFleet()
{
    SessionFolder f;
    f.recordTwoRuns();
    f.recordFleet();
    QTcpServer echo;
    QVERIFY(echo.listen(QHostAddress::LocalHost, 0));
    connect(&echo, &QTcpServer::newConnection, this, [&echo] {
        while (QTcpSocket *s = echo.nextPendingConnection())
            connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
    });
    QTemporaryDir output;
    const auto [status, printed, errors] =
        runCommand(replayCommand, {u"replay"_s, u"--capture-dir"_s, f.dir.path(), u"--to"_s,
                                   u"127.0.0.1:%1"_s.arg(echo.serverPort()), u"--output"_s, output.path(),
                                   u"--session"_s, u"all"_s, u"--speed"_s, u"4"_s});
    QCOMPARE(status, 0);
    QVERIFY2(printed.startsWith(u"Connections: 2 made, 0 failed, 0 reset or closed early\nSent: 3 chunks, 6 bytes\n"_s),
             qPrintable(printed + errors));
    const SessionIndex answers = SessionIndex::read(output.path());
    QMap<qint64, QByteArray> echoes; // by the time of the connection's connect
    QMap<QString, qint64> connects;
    for (const RecordedEvent &e : answers.events()) {
        if (e.event.kind == Kind::Connect)
            connects[e.event.note] = e.event.timeUs;
        else if (e.event.kind == Kind::Out)
            echoes[connects[e.event.note]] += answers.bytesOf(e);
    }
    QCOMPARE(echoes.values(), (QList<QByteArray>{"a1a2", "b1"}));
    QVERIFY(qAbs((echoes.lastKey() - echoes.firstKey()) / 1000 - 25) <= 15);
}

// A UDP peer's two datagrams played by three trackers, each from a socket of its own, against a
// server that echoes each datagram: every echo is captured as its tracker's, datagram by datagram.
void tst_SessionReplay::udpAsDatagrams()
{
    SessionFolder f;
    f.recordUdp();
    QUdpSocket echo;
    QVERIFY(echo.bind(QHostAddress::LocalHost, 0));
    connect(&echo, &QUdpSocket::readyRead, &echo, [&echo] {
        while (echo.hasPendingDatagrams()) {
            const QNetworkDatagram d = echo.receiveDatagram();
            echo.writeDatagram(d.data(), d.senderAddress(), quint16(d.senderPort()));
        }
    });
    QTemporaryDir output;
    const auto [status, printed, errors] =
        runCommand(replayCommand, {u"replay"_s, u"--capture-dir"_s, f.dir.path(), u"--to"_s,
                                   u"127.0.0.1:%1"_s.arg(echo.localPort()), u"--output"_s, output.path(),
                                   u"--udp"_s, u"--trackers"_s, u"3"_s, u"--no-wait"_s});
    QCOMPARE(status, 0);
    QVERIFY2(printed.startsWith(u"Connections: 3 made, 0 failed, 0 reset or closed early\nSent: 6 chunks, "_s),
             qPrintable(printed + errors));
    const SessionIndex answers = SessionIndex::read(output.path());
    QMap<QString, QList<QByteArray>> echoes; // by the tracker's socket
    for (const RecordedEvent &e : answers.events())
        if (e.event.kind == Kind::Out)
            echoes[e.event.note].append(answers.bytesOf(e));
    QCOMPARE(echoes.size(), 3);
    for (const QList<QByteArray> &each : std::as_const(echoes))
        QCOMPARE(each, (QList<QByteArray>{Rmc, Big}));
}

QTEST_GUILESS_MAIN(tst_SessionReplay)
#include "tst_sessionreplay.moc"
