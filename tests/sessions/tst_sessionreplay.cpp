#include "replaycommand.h"
#include "sessionfolder.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

using Kind = SessionEvent::Kind;

namespace {

const QString Tracker = QStringLiteral("127.0.0.1:40312");

// A server in the test: keeps what each connection sends and when each read arrived (ms after
// the connection was accepted), and answers each read: with ACK, an echo, or a reset.
class FakeServer final : public QObject
{
public:
    enum class Answer { Ack, Echo, Reset };

    explicit FakeServer(Answer answer) : m_answer(answer)
    {
        server.setListenBacklogSize(1024);
        server.setMaxPendingConnections(1024);
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                const qsizetype i = received.size();
                received.append(QByteArray());
                arrivals.append(QList<qint64>());
                auto *accepted = new QElapsedTimer;
                accepted->start();
                connect(s, &QObject::destroyed, this, [accepted] { delete accepted; });
                connect(s, &QTcpSocket::readyRead, this, [this, s, i, accepted] { onRead(s, i, accepted->elapsed()); });
            }
        });
    }

    [[nodiscard]] QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QList<QByteArray> received;
    QList<QList<qint64>> arrivals;

private:
    void onRead(QTcpSocket *s, qsizetype i, qint64 ms)
    {
        const QByteArray bytes = s->readAll();
        received[i] += bytes;
        arrivals[i].append(ms);
        if (m_answer == Answer::Reset) {
            const linger abortive{1, 0};
            ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            s->abort();
        } else {
            s->write(m_answer == Answer::Ack ? QByteArray("ACK\r\n") : bytes);
        }
    }

    Answer m_answer;
};

struct Result
{
    int status = -1;
    QString output;
    QString errors;
};

Result replayWith(const QStringList &arguments)
{
    Result r;
    QTextStream output(&r.output), errors(&r.errors);
    r.status = replayCommand(QStringList{QStringLiteral("gps-analyzer"), QStringLiteral("replay")} + arguments,
                             output, errors);
    output.flush();
    errors.flush();
    return r;
}

// A tracker that sent three chunks 100, 400 and 500 ms after it connected, and closed at 600 ms.
void recordSession(SessionFolder &f, const QList<QByteArray> &chunks = {"one", "two", "three"})
{
    f.record(Kind::Listen, 0, {}, 5000);
    f.record(Kind::Connect, 1'000'000, Tracker, 5000);
    const qint64 offsets[] = {100'000, 400'000, 500'000};
    for (int i = 0; i < chunks.size(); ++i)
        f.capture(Kind::In, 1'000'000 + offsets[i], Tracker, 5000, chunks[i]);
    f.record(Kind::Disconnect, 1'600'000, Tracker, 5000);
}

QStringList commonArguments(const SessionFolder &f, const FakeServer &server, const QTemporaryDir &output)
{
    return {QStringLiteral("--capture-dir"), f.dir.path(), QStringLiteral("--to"), server.address(),
            QStringLiteral("--output"), output.path()};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestSessionReplay final : public QObject
{
    Q_OBJECT

private slots:
    void gapsAndAnswers_data();
    void gapsAndAnswers();
    void manyTrackers();
    void failedConnections_data();
    void failedConnections();
    void wrongOptions_data();
    void wrongOptions();
};

void TestSessionReplay::gapsAndAnswers_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QList<qint64>>("arrivalsMs");

    QTest::newRow("recorded gaps") << QStringLiteral("1") << QList<qint64>{100, 400, 500};
    QTest::newRow("twice as fast") << QStringLiteral("2") << QList<qint64>{50, 200, 250};
}

void TestSessionReplay::gapsAndAnswers()
{
    QFETCH(QString, speed);
    QFETCH(QList<qint64>, arrivalsMs);
    SessionFolder f;
    recordSession(f);
    FakeServer server(FakeServer::Answer::Ack);
    QTemporaryDir output;

    const Result r = replayWith(commonArguments(f, server, output) << QStringLiteral("--speed") << speed);
    QVERIFY2(r.status == 0, qPrintable(r.errors + r.output));
    QCOMPARE(server.received, QList<QByteArray>{"onetwothree"});
    QCOMPARE(server.arrivals[0].size(), arrivalsMs.size());
    for (int i = 0; i < arrivalsMs.size(); ++i)
        QVERIFY2(qAbs(server.arrivals[0][i] - arrivalsMs[i]) <= 20,
                 qPrintable(QStringLiteral("chunk %1 at %2 ms").arg(i + 1).arg(server.arrivals[0][i])));

    QVERIFY2(r.output.contains(QStringLiteral("Answers: 3 chunks, 15 bytes\n")), qPrintable(r.output));
    QVERIFY(r.output.contains(QStringLiteral("(3 of 3 chunks answered)")));
    const int port = server.server.serverPort();
    for (int n = 1; n <= 3; ++n) {
        QCOMPARE(fileBytes(CaptureFiles::dataFileName(output.path(), n, port)), QByteArray("ACK\r\n"));
        QCOMPARE(fileBytes(CaptureFiles::lengthLogName(output.path(), n, port)), QByteArray(" 5 \r\n"));
    }
    const QList<QByteArray> lines = fileBytes(output.filePath(QStringLiteral("index.tsv"))).trimmed().split('\n');
    QCOMPARE(lines.size(), 6);
    const QByteArray events[] = {"\tconnect\t", "\tout\t", "\tout\t", "\tout\t", "\tdisconnect\t"};
    for (int i = 0; i < 5; ++i)
        QVERIFY2(lines[i + 1].contains(events[i]) && lines[i + 1].contains(server.address().toUtf8()),
                 lines[i + 1].constData());
}

void TestSessionReplay::manyTrackers()
{
    SessionFolder f;
    const QByteArray big(3000, 'x');
    recordSession(f, {"login", big});
    FakeServer server(FakeServer::Answer::Echo);
    QTemporaryDir output;

    const Result r = replayWith(commonArguments(f, server, output)
                                << QStringLiteral("--trackers") << QStringLiteral("200") << QStringLiteral("--no-wait"));
    QVERIFY2(r.status == 0, qPrintable(r.errors + r.output));
    QVERIFY2(r.output.startsWith(QStringLiteral("Connections: 200 made, 0 failed, 0 reset or closed early\n"
                                                "Sent: 400 chunks, 601000 bytes\n")),
             qPrintable(r.output));
    QCOMPARE(server.received.size(), 200);
    for (const QByteArray &got : std::as_const(server.received))
        QCOMPARE(got, "login" + big);
    const QRegularExpressionMatch answers =
        QRegularExpression(QStringLiteral("Answers: (\\d+) chunks, 601000 bytes\n")).match(r.output);
    QVERIFY2(answers.hasMatch(), qPrintable(r.output));
    const QStringList captured = QDir(output.path()).entryList({QStringLiteral("*.dat")}, QDir::Files);
    QCOMPARE(captured.size(), answers.captured(1).toInt());
}

void TestSessionReplay::failedConnections_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QByteArray>("errorLog");

    QTest::newRow("refused") << false << QStringLiteral("Connections: 0 made, 1 failed, 0 reset or closed early")
                             << QByteArray("Connection is forcefully rejected\r\n");
    QTest::newRow("reset by the server") << true
                                         << QStringLiteral("Connections: 1 made, 0 failed, 1 reset or closed early")
                                         << QByteArray("Connection is reset by remote side\r\n");
}

void TestSessionReplay::failedConnections()
{
    QFETCH(bool, serverUp);
    QFETCH(QString, summary);
    QFETCH(QByteArray, errorLog);
    SessionFolder f;
    recordSession(f);
    FakeServer server(FakeServer::Answer::Reset);
    QTemporaryDir output;
    const QStringList arguments = commonArguments(f, server, output) << QStringLiteral("--speed")
                                                                     << QStringLiteral("10");
    if (!serverUp)
        server.server.close();

    const Result r = replayWith(arguments);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.output.startsWith(summary), qPrintable(r.output));
    const QStringList logs = QDir(output.path()).entryList({QStringLiteral("x*_err*.log")}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QCOMPARE(fileBytes(output.filePath(logs[0])), errorLog);
}

void TestSessionReplay::wrongOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString to = QStringLiteral("--to"), server = QStringLiteral("127.0.0.1:5001");
    QTest::newRow("no server") << QStringList() << QStringLiteral("--to HOST:PORT is needed");
    QTest::newRow("server without a port") << QStringList{to, QStringLiteral("127.0.0.1")}
                                           << QStringLiteral("--to takes HOST:PORT");
    QTest::newRow("port 0") << QStringList{to, QStringLiteral("127.0.0.1:0")} << QStringLiteral("--to takes HOST:PORT");
    QTest::newRow("speed 0") << QStringList{to, server, QStringLiteral("--speed"), QStringLiteral("0")}
                             << QStringLiteral("--speed takes a number above 0");
    QTest::newRow("speed and no-wait")
        << QStringList{to, server, QStringLiteral("--speed"), QStringLiteral("2"), QStringLiteral("--no-wait")}
        << QStringLiteral("--speed and --no-wait exclude each other");
    QTest::newRow("no trackers") << QStringList{to, server, QStringLiteral("--trackers"), QStringLiteral("0")}
                                 << QStringLiteral("--trackers takes a number from 1");
}

void TestSessionReplay::wrongOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Result r = replayWith(arguments);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.errors.startsWith(QStringLiteral("gps-analyzer replay: ") + message), qPrintable(r.errors));
    QVERIFY(r.errors.contains(QStringLiteral("Usage: gps-analyzer replay [options]")));
}

QTEST_GUILESS_MAIN(TestSessionReplay)
#include "tst_sessionreplay.moc"
