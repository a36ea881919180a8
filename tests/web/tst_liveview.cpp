// The live web view: the model of the panes, and its server on loopback with real HTTP and
// WebSocket clients.

#include "capturefiles.h"
#include "capturefolder.h"
#include "liveview.h"
#include "liveviewserver.h"
#include "loopbacksocket.h"
#include "positioncells.h"
#include "sessionerror.h"
#include "trackertable.h"
#include "webaccess.h"
#include "zipwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <sys/socket.h>

#include <thread>

namespace {

const QString Token = QStringLiteral("0123456789abcdef-token");

QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list.append(QString::fromLatin1(text));
    return list;
}

QJsonObject parsed(const QByteArray &message)
{
    return QJsonDocument::fromJson(message).object();
}

// The lines of a pane message as "where:text" strings.
QStringList linesOf(const QJsonObject &message)
{
    QStringList lines;
    for (const QJsonValue &entry : message.value(QStringLiteral("lines")).toArray()) {
        const QJsonArray e = entry.toArray();
        lines.append(e.at(0).toString() + QLatin1Char(':') + e.at(1).toString() +
                     (e.size() > 2 ? QStringLiteral("|cut %1").arg(e.at(2).toInteger()) : QString()));
    }
    return lines;
}

// One request on its own connection; everything the server answered before it closed.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    client.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor([&] {
        answer += client.readAll();
        return client.state() == QAbstractSocket::UnconnectedState;
    }, 5000);
    return answer + client.readAll();
}

QByteArray get(const QByteArray &target, const QByteArray &fields = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields + "\r\n";
}

QByteArray upgradeFields()
{
    return "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
}

// The program headless on loopback with the live view and the options given, started; the port
// of its live view once it listens (0 when it did not announce it), its standard output in out.
quint16 startProgram(QProcess &program, const QString &folder, quint16 inPort, const QStringList &options, QByteArray *out)
{
    program.start(QStringLiteral(GPSA_ANALYZER_BINARY),
                  QStringList{QStringLiteral("--headless"), QStringLiteral("--in-port"), QString::number(inPort),
                              QStringLiteral("--capture-dir"), folder, QStringLiteral("--web"), QStringLiteral("127.0.0.1:0"),
                              QStringLiteral("--web-token"), Token} + options);
    if (!QTest::qWaitFor([&] { return (*out += program.readAllStandardOutput()).contains("Listening on TCP port"); }, 5000))
        return 0;
    const QRegularExpressionMatch live =
        QRegularExpression(QStringLiteral("^Live view: http://127.0.0.1:(\\d+)/\\?token=(.*)\n")).match(QString::fromUtf8(*out));
    return live.hasMatch() && live.captured(2) == Token ? quint16(live.captured(1).toUInt()) : 0;
}

std::unique_ptr<QWebSocket> programViewer(quint16 webPort, QList<QByteArray> *messages)
{
    auto viewer = std::make_unique<QWebSocket>();
    QObject::connect(viewer.get(), &QWebSocket::binaryMessageReceived, viewer.get(), [messages](const QByteArray &m) { messages->append(m); });
    viewer->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live?token=%2").arg(webPort).arg(Token)));
    return viewer;
}

// The trackers table as the page shows it after the messages: each row's cells up to the bytes
// out, by the tracker's name.
QMap<QString, QVariantList> trackersShown(const QList<QByteArray> &messages)
{
    QMap<QString, QVariantList> rows;
    for (const QByteArray &message : messages) {
        const QJsonObject m = parsed(message);
        if (m.value(QStringLiteral("type")) != QStringLiteral("trackers"))
            continue;
        if (m.value(QStringLiteral("clear")).toBool())
            rows.clear();
        for (const QJsonValue &gone : m.value(QStringLiteral("gone")).toArray())
            rows.remove(gone.toString());
        for (const QJsonValue &row : m.value(QStringLiteral("rows")).toArray())
            rows.insert(row[0].toString(), row.toArray().toVariantList().mid(0, TrackerTable::ConnectedSince));
    }
    return rows;
}

struct Server
{
    explicit Server(LiveViewLimits limits = {})
        : server(view, Token,
                 [](QByteArrayView kind, int) -> SessionDownloads::File {
                     if (kind == "zip")
                         throw SessionError(QStringLiteral("no session"));
                     return {QStringLiteral("session-1.pcap"), "application/vnd.tcpdump.pcap", "PCAP"};
                 },
                 limits)
    {
        server.listen(QHostAddress::LocalHost, 0);
    }
    std::unique_ptr<QWebSocket> viewer(QList<QByteArray> *messages)
    {
        auto socket = std::make_unique<QWebSocket>();
        QObject::connect(socket.get(), &QWebSocket::binaryMessageReceived, socket.get(),
                         [messages](const QByteArray &m) { messages->append(m); });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(server.port())));
        request.setRawHeader("Cookie", server.cookieName() + '=' + Token.toLatin1());
        socket->open(request);
        return socket;
    }
    LiveView view;
    LiveViewServer server;
};

} // namespace

class TestLiveView final : public QObject
{
    Q_OBJECT

private slots:
    void paneMessages_data();
    void paneMessages();
    void paneKeepsItsNewestLines();
    void floodsAndLongLinesAreBounded();
    void changesGoOutOncePerInterval();
    void addressesAndTokens_data();
    void addressesAndTokens();
    void zipStoresFilesWithTheirCrc();
    void requests_data();
    void requests();
    void halfSentRequestTimesOut();
    void viewerGetsSnapshotThenEachEventsLines();
    void twentyFirstViewerGets503();
    void viewerThatDoesNotReadIsDropped();
    void stormOfConnections();
    void programShowsWhatItsPanesShow();
    void positionsFollowDecoding();
    void trackersFollowTheirTable();
    void programShowsItsPositions_data();
    void programShowsItsPositions();
    void programShowsItsTrackers();
};

void TestLiveView::paneMessages_data()
{
    QTest::addColumn<QStringList>("operations"); // where:text, applied to the log
    QTest::addColumn<QStringList>("snapshot");
    QTest::newRow("ends") << strings({"bottom:Listening\r\n", "top:status\r\n", "bottom:Tracker\r\n"})
                          << strings({"bottom:status\r\n", "bottom:Listening\r\n", "bottom:Tracker\r\n"});
    QTest::newRow("replace") << strings({"bottom:a\r\n", "replace:all\r\n", "top:b"})
                             << strings({"bottom:b", "bottom:all\r\n"});
}

void TestLiveView::paneMessages()
{
    QFETCH(QStringList, operations);
    QFETCH(QStringList, snapshot);
    LiveView view;
    view.setWatched(true);
    for (const QString &op : operations) {
        const QString text = op.section(QLatin1Char(':'), 1);
        if (op.startsWith(QLatin1String("bottom")))
            view.appendToLog(text);
        else if (op.startsWith(QLatin1String("top")))
            view.prependToLog(text);
        else
            view.replaceLog(text);
    }
    const QJsonObject log = parsed(view.snapshot().at(1));
    QCOMPARE(log.value(QStringLiteral("type")).toString(), QStringLiteral("log"));
    QVERIFY(log.value(QStringLiteral("clear")).toBool());
    QCOMPARE(linesOf(log), snapshot);
    // The changes in the order the pane took them, from the last replacement on.
    const QStringList changes = linesOf(*view.log().takeChanges());
    qsizetype replaced = 0;
    for (qsizetype i = 0; i < operations.size(); ++i)
        replaced = operations[i].startsWith(QLatin1String("replace")) ? i : replaced;
    QCOMPARE(changes, operations.mid(replaced));
    QCOMPARE(parsed(view.snapshot().at(0)), QJsonDocument::fromJson(R"({"type":"hello","parts":["log","data"]})").object());
}

void TestLiveView::paneKeepsItsNewestLines()
{
    LiveView view;
    for (int i = 0; i <= LivePane::KeptLines; ++i) {
        view.appendToLog(QString::number(i));
        view.prependToDataPane(QString::number(i));
    }
    // The log drops its top, the data pane its bottom: the oldest line of each.
    QCOMPARE(view.log().lineCount(), LivePane::KeptLines);
    QCOMPARE(linesOf(view.log().snapshot()).first(), QStringLiteral("bottom:1"));
    QCOMPARE(linesOf(view.data().snapshot()).first(), QStringLiteral("bottom:%1").arg(LivePane::KeptLines));
    QCOMPARE(linesOf(view.data().snapshot()).last(), QStringLiteral("bottom:1"));
    // Nobody watched: nothing was kept for a message.
    QVERIFY(!view.data().takeChanges());
}

void TestLiveView::floodsAndLongLinesAreBounded()
{
    LiveView view;
    view.setWatched(true);
    const QByteArray chunk(1000, 'A');
    const int chunks = int(LivePane::BatchCharacters / 1000) + 50;
    for (int i = 0; i < chunks; ++i)
        view.prependChunkLine(QStringLiteral("ts"), CaptureFiles::InAsciiTag, chunk, PaneWatcher::Rendering::Ascii);
    QJsonObject changes = *view.data().takeChanges();
    const qsizetype sent = linesOf(changes).size();
    QCOMPARE(changes.value(QStringLiteral("skipped")).toInteger() + sent, chunks);
    QVERIFY(sent * 1000 <= LivePane::BatchCharacters);
    QCOMPARE(linesOf(changes).last(), QStringLiteral("top:") + CaptureFiles::asciiLine(QStringLiteral("ts"), CaptureFiles::InAsciiTag, chunk));

    const QByteArray huge(LivePane::LineCharacters, '\x01');
    view.prependChunkLine(QStringLiteral("ts"), CaptureFiles::InHexTag, huge, PaneWatcher::Rendering::Hex);
    changes = *view.data().takeChanges();
    const QString expected = CaptureFiles::hexLine(QStringLiteral("ts"), CaptureFiles::InHexTag, huge);
    QCOMPARE(linesOf(changes), QStringList{QStringLiteral("top:%1|cut %2").arg(expected.first(LivePane::LineCharacters)).arg(expected.size() - LivePane::LineCharacters)});
}

void TestLiveView::changesGoOutOncePerInterval()
{
    LiveView view;
    QSignalSpy published(&view, &LiveView::published);
    view.prependToDataPane(QStringLiteral("unwatched\r\n"));
    view.eventHandled();
    QCOMPARE(published.size(), 0);

    view.setWatched(true);
    view.prependChunkLine(QStringLiteral("t1"), CaptureFiles::InAsciiTag, "AB", PaneWatcher::Rendering::Ascii);
    view.prependChunkLine(QStringLiteral("t2"), CaptureFiles::InHexTag, "AB", PaneWatcher::Rendering::Hex);
    // A tag that names a tracker goes with its connection: the line keeps its own copy.
    QByteArray named = CaptureFiles::trackerTag(CaptureFiles::InHexTag, QStringLiteral("127.0.0.1:40312"));
    view.prependChunkLine(QStringLiteral("t3"), QLatin1StringView(named), "AB", PaneWatcher::Rendering::Hex);
    named.fill('?');
    view.eventHandled();
    // The chunk's two lines, at the end of the event that captured it, in one message.
    QCOMPARE(published.size(), 1);
    QCOMPARE(linesOf(parsed(published.at(0).at(0).toByteArray())),
             (QStringList{QStringLiteral("top:t1:  IN (ASCII):AB\r\n"), QStringLiteral("top:t2:  IN (HEXAD):4142\r\n"),
                          QStringLiteral("top:t3:  IN 127.0.0.1:40312 (HEXAD):4142\r\n")}));
    // Lines of the next event within the interval wait for it; log lines outside any event too.
    view.prependToDataPane(QStringLiteral("soon\r\n"));
    view.eventHandled();
    view.appendToLog(QStringLiteral("log\r\n"));
    QCOMPARE(published.size(), 1);
    QVERIFY(published.wait(1000));
    QTRY_COMPARE(published.size(), 3);
}

void TestLiveView::addressesAndTokens_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // empty: refused
    QTest::addColumn<int>("port");
    const auto row = [](const char *name, const char *text, const char *address, int port) {
        QTest::newRow(name) << QString::fromLatin1(text) << QString::fromLatin1(address) << port;
    };
    row("port", "8080", "127.0.0.1", 8080);
    row("every address", "0.0.0.0:8080", "0.0.0.0", 8080);
    row("IPv6", "[::1]:0", "::1", 0);
    row("too high", "65536", "", 0);
    row("name", "localhost:80", "", 0);
    row("no port", "127.0.0.1:", "", 0);
}

void TestLiveView::addressesAndTokens()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(int, port);
    QString error;
    const std::optional<WebSettings> settings = WebAccess::parseAddress(text, &error);
    QCOMPARE(settings.has_value(), !address.isEmpty());
    QCOMPARE(error.isEmpty(), settings.has_value());
    if (settings) {
        QCOMPARE(settings->address.toString(), address);
        QCOMPARE(settings->port, port);
    }
    const QString made = WebAccess::makeToken();
    QCOMPARE(made.size(), 32); // 192 bits
    QVERIFY(made != WebAccess::makeToken());
    QVERIFY(WebAccess::tokenProblem(made).isEmpty());
    QVERIFY(!WebAccess::tokenProblem(QStringLiteral("short")).isEmpty());
    QVERIFY(!WebAccess::tokenProblem(QStringLiteral("sixteen chars with blanks")).isEmpty());
    QVERIFY(WebAccess::sameToken(made.toLatin1(), made.toLatin1()));
    QVERIFY(!WebAccess::sameToken(made.toLatin1().chopped(1), made.toLatin1()));
    QVERIFY(!WebAccess::sameToken({}, {}));
}

void TestLiveView::zipStoresFilesWithTheirCrc()
{
    // The check value of CRC-32 (the catalogue of parametrised CRC algorithms).
    QCOMPARE(ZipWriter::crc32("123456789"), 0xCBF43926u);
    QByteArray everyByte(256, '\0'); // every entry of the table, as zlib's crc32 gives it
    for (int b = 0; b < 256; ++b)
        everyByte[b] = char(b);
    QCOMPARE(ZipWriter::crc32(everyByte), 0x29058C73u);
    const QByteArray zip = ZipWriter::archive({{QStringLiteral("x0001_5000.dat"), "hello"}},
                                              QDateTime(QDate(2026, 12, 7), QTime(3, 9, 24)));
    QVERIFY(zip.startsWith("PK\x03\x04"));
    QVERIFY(zip.contains("x0001_5000.dathello"));
    QCOMPARE(zip.right(22).left(4), QByteArray("PK\x05\x06"));
    QCOMPARE(zip.size(), 30 + 14 + 5 + 46 + 14 + 22);
}

void TestLiveView::requests_data()
{
    const QByteArray token = Token.toLatin1();
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("contains");
    const auto row = [](const char *name, const QByteArray &request, const char *status, const QByteArray &contains) {
        QTest::newRow(name) << request << QByteArray(status) << contains;
    };
    row("no token", get("/"), "HTTP/1.1 401 Unauthorized", QByteArray("Content-Length: 0\r\nConnection: close\r\n\r\n"));
    row("wrong token", get("/?token=0123456789abcdef-tokeN"), "HTTP/1.1 401", QByteArray());
    row("wrong cookie", get("/", "Cookie: gpsa_token_PORT=x\r\n"), "HTTP/1.1 401", QByteArray());
    row("no token, WebSocket", get("/live", upgradeFields()), "HTTP/1.1 401", QByteArray());
    row("token in the address", get("/?token=" + token), "HTTP/1.1 303 See Other", "Location: /\r\nSet-Cookie: gpsa_token_PORT=" + token + "; Path=/; HttpOnly; SameSite=Strict\r\n");
    row("cookie", get("/", "Cookie: a=b; gpsa_token_PORT=" + token + "\r\n"), "HTTP/1.1 200 OK", QByteArray("<script src=\"/app.js\""));
    row("bearer", get("/app.js", "Authorization: Bearer " + token + "\r\n"), "HTTP/1.1 200 OK", QByteArray("Content-Type: text/javascript"));
    row("download", get("/download/session.pcap?token=" + token), "HTTP/1.1 200 OK", QByteArray("filename=\"session-1.pcap\"\r\nContent-Length: 4\r\nConnection: close\r\n\r\nPCAP"));
    row("no session", get("/download/session.zip?token=" + token), "HTTP/1.1 404", QByteArray("no session"));
    row("unknown", get("/x?token=" + token), "HTTP/1.1 404", QByteArray());
    row("body", "POST /?token=" + token + " HTTP/1.1\r\nContent-Length: 2\r\n\r\nab", "HTTP/1.1 405", QByteArray("Allow: GET"));
    row("GET with body", get("/?token=" + token, "Content-Length: 2\r\n") + "ab", "HTTP/1.1 413", QByteArray());
    row("malformed", QByteArray("GET /\r\n\r\n"), "HTTP/1.1 400", QByteArray());
    row("folded field", get("/", "A: b\r\n c\r\n"), "HTTP/1.1 400", QByteArray());
    row("head too large", get("/", "A: " + QByteArray(8192, 'a') + "\r\n"), "HTTP/1.1 431", QByteArray());
    row("another site's page", get("/live?token=" + token, upgradeFields() + "Origin: http://example.com\r\n"), "HTTP/1.1 403", QByteArray());
}

void TestLiveView::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, contains);
    Server s;
    const QByteArray port = QByteArray::number(s.server.port());
    const QByteArray answer = exchange(s.server.port(), request.replace("PORT", port));
    QVERIFY2(answer.startsWith(statusLine), answer.constData());
    QVERIFY2(answer.contains(contains.replace("PORT", port)), answer.constData());
    QVERIFY(!answer.contains("Access-Control"));
    if (!answer.startsWith("HTTP/1.1 200"))
        QVERIFY(!answer.contains("<"));
}

void TestLiveView::halfSentRequestTimesOut()
{
    LiveViewLimits limits;
    limits.timeout = std::chrono::milliseconds(200);
    Server s(limits);
    LoopbackSocket client = LoopbackSocket::connectTo(s.server.port());
    QVERIFY(client.sendAll("GET / HTTP/1.1\r\n"));
    QTRY_VERIFY(client.receive(nullptr, 0) < 0 || client.seesEnd(0));
}

void TestLiveView::viewerGetsSnapshotThenEachEventsLines()
{
    Server s;
    s.view.appendToLog(QStringLiteral("Listening on TCP port 5000\r\n"));
    QList<QByteArray> messages;
    const auto viewer = s.viewer(&messages);
    QTRY_COMPARE(messages.size(), 3);
    QCOMPARE(linesOf(parsed(messages.at(1))), QStringList{QStringLiteral("bottom:Listening on TCP port 5000\r\n")});
    s.view.prependChunkLine(QStringLiteral("t"), CaptureFiles::InAsciiTag, QByteArray("\0$A", 3), PaneWatcher::Rendering::Ascii);
    s.view.prependChunkLine(QStringLiteral("t"), CaptureFiles::InHexTag, QByteArray("\0$A", 3), PaneWatcher::Rendering::Hex);
    s.view.eventHandled();
    QTRY_COMPARE(messages.size(), 4);
    QCOMPARE(linesOf(parsed(messages.at(3))),
             (QStringList{QStringLiteral("top:t:  IN (ASCII): $A\r\n"), QStringLiteral("top:t:  IN (HEXAD): 02441\r\n")}));
}

void TestLiveView::twentyFirstViewerGets503()
{
    Server s;
    std::vector<std::unique_ptr<QWebSocket>> viewers;
    QList<QByteArray> messages;
    for (int i = 0; i < 20; ++i)
        viewers.push_back(s.viewer(&messages));
    QTRY_COMPARE(s.server.viewerCount(), 20);
    const QByteArray answer = exchange(s.server.port(), get("/live?token=" + Token.toLatin1(), upgradeFields()));
    QVERIFY2(answer.startsWith("HTTP/1.1 503"), answer.constData());
    // A place that frees is taken again.
    viewers.pop_back();
    QTRY_COMPARE(s.server.viewerCount(), 19);
    viewers.push_back(s.viewer(&messages));
    QTRY_COMPARE(s.server.viewerCount(), 20);
}

void TestLiveView::viewerThatDoesNotReadIsDropped()
{
    LiveViewLimits limits;
    limits.viewerBacklog = 256 * 1024;
    Server s(limits);
    QSignalSpy dropped(&s.server, &LiveViewServer::viewerDropped);
    LoopbackSocket idle = LoopbackSocket::connectTo(s.server.port());
    const int small = 4096;
    ::setsockopt(idle.descriptor(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    QVERIFY(idle.sendAll(get("/live?token=" + Token.toLatin1(), upgradeFields())));
    QTRY_COMPARE(s.server.viewerCount(), 1);
    QByteArray head(1024, '\0');
    qsizetype got = 0;
    QTRY_VERIFY((got += std::max<qsizetype>(idle.receive(head.data() + got, 300 - got), 0)) >= 200);
    QVERIFY2(head.startsWith("HTTP/1.1 101 Switching Protocols\r\n") && !head.contains("Access-Control"), head.constData());
    const QByteArray chunk(LivePane::LineCharacters / 2, 'x');
    for (int event = 0; event < 40 && dropped.isEmpty(); ++event) {
        for (int line = 0; line < 8; ++line)
            s.view.prependChunkLine(QStringLiteral("t"), CaptureFiles::InHexTag, chunk, PaneWatcher::Rendering::Hex);
        s.view.eventHandled();
        QTest::qWait(int(LiveView::BatchInterval.count()));
    }
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped.at(0).at(1).toString(), QStringLiteral("more than 256 KiB waited for it"));
    QCOMPARE(s.server.viewerCount(), 0);
}

void TestLiveView::stormOfConnections()
{
    Server s;
    QList<QByteArray> messages;
    const auto viewer = s.viewer(&messages);
    QTRY_COMPARE(s.server.viewerCount(), 1);
    // A thousand connections in waves, each sending half a request or nothing, on a thread of
    // their own while the event loop serves.
    std::atomic<int> made = 0;
    std::jthread storm([&made, port = s.server.port()] {
        for (int wave = 0; wave < 5; ++wave) {
            std::vector<LoopbackSocket> clients;
            for (int i = 0; i < 200; ++i) {
                clients.push_back(LoopbackSocket::connectTo(port));
                if (i % 2 == 0)
                    (void)clients.back().send("GET / HT", 8);
                made += clients.back().isValid() ? 1 : 0;
            }
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(made.load(), 1000, 20000);
    storm.join();
    // The viewer stays, and a request still gets its answer.
    s.view.prependToDataPane(QStringLiteral("after\r\n"));
    s.view.eventHandled();
    QTRY_COMPARE(messages.size(), 4);
    QCOMPARE(s.server.viewerCount(), 1);
    QVERIFY(exchange(s.server.port(), get("/style.css?token=" + Token.toLatin1())).startsWith("HTTP/1.1 200"));
}

void TestLiveView::programShowsWhatItsPanesShow()
{
    QTemporaryDir folder;
    const quint16 inPort = LoopbackSocket::freePort();
    QProcess program;
    QByteArray out;
    const quint16 webPort = startProgram(program, folder.path(), inPort, {}, &out);
    QVERIFY(webPort != 0);
    QList<QByteArray> messages;
    const auto viewer = programViewer(webPort, &messages);
    QTRY_COMPARE(messages.size(), 3);

    // Calm: every byte value, each chunk captured before the next goes; the page's panes get the
    // text of standard output, line for line.
    LoopbackSocket tracker = LoopbackSocket::connectTo(inPort);
    QByteArray sent;
    for (int i = 0; i < 4; ++i) {
        sent += LoopbackSocket::randomBytes(256, quint32(i)) + "\r\n";
        QVERIFY(tracker.sendAll(sent.right(258)));
        QTRY_COMPARE((out += program.readAllStandardOutput()).count("IN (HEXAD)"), i + 1);
    }
    QString log;
    QString data;
    const auto collect = [&] {
        log.clear();
        data.clear();
        for (const QByteArray &message : std::as_const(messages)) {
            const QJsonObject m = parsed(message);
            for (const QJsonValue &entry : m.value(QStringLiteral("lines")).toArray())
                (m.value(QStringLiteral("type")) == QStringLiteral("log") ? log : data) += entry.toArray().at(1).toString();
        }
        return data.count(QStringLiteral("IN (HEXAD)"));
    };
    QTRY_COMPARE(collect(), 4);
    const QString connected = QStringLiteral("Tracker 127.0.0.1 connected.\r\n");
    // Standard output less the address and the log's lines is the data pane.
    const QString listening = QStringLiteral("Listening on TCP port %1\r\n").arg(inPort);
    QCOMPARE(log, listening + connected);
    QCOMPARE(data, QString::fromUtf8(out.mid(out.indexOf('\n') + 1)).remove(listening).remove(connected));

    // A flood while a viewer never reads and a storm of connections comes: the viewer is
    // dropped, the capture keeps every byte.
    LoopbackSocket idle = LoopbackSocket::connectTo(webPort);
    QVERIFY(idle.sendAll(get("/live?token=" + Token.toLatin1(), upgradeFields())));
    char head[12] = {};
    QTRY_VERIFY(head[0] != 0 || idle.receive(head, sizeof head) > 0);
    QCOMPARE(QByteArray(head, 12), QByteArray("HTTP/1.1 101"));
    std::jthread storm([webPort] {
        for (int i = 0; i < 1000; ++i)
            (void)LoopbackSocket::connectTo(webPort).send("GET /", 5);
    });
    for (int i = 0; i < 200 && !out.contains("dropped"); ++i) {
        sent += LoopbackSocket::randomBytes(64 * 1024, quint32(100 + i));
        QVERIFY(tracker.sendAll(sent.right(64 * 1024)));
        QTest::qWait(25);
        out += program.readAllStandardOutput();
    }
    QVERIFY(out.contains(QByteArray("Live view 127.0.0.1:") + QByteArray::number(idle.localPort()) +
                         " dropped: more than 4 MiB waited for it.\r\n"));
    tracker.close();
    QTRY_VERIFY((out += program.readAllStandardOutput()).contains("disconnected."));
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(CaptureFolder(folder.path()).joined(inPort), sent);
}

void TestLiveView::positionsFollowDecoding()
{
    LiveView view;
    QSignalSpy published(&view, &LiveView::published);
    view.setWatched(true);
    bool decoding = false;
    view.showWhen(view.positions(), [&decoding] { return decoding; });
    view.eventHandled();
    QVERIFY(!view.shows(view.positions()));
    // Viewers that watch learn of the table as soon as the program decodes, before its first row.
    decoding = true;
    view.eventHandled();
    QCOMPARE(published.size(), 2);
    QCOMPARE(parsed(published.at(0).at(0).toByteArray()).value(QStringLiteral("parts")).toVariant().toStringList(),
             strings({"log", "data", "positions"}));
    QCOMPARE(parsed(published.at(1).at(0).toByteArray()).value(QStringLiteral("columns")).toVariant().toStringList(),
             PositionCells::headings());

    // A flood keeps the newest rows for the message; only a valid record with coordinates is a
    // point of its device's track.
    PositionRow valid;
    valid.record.fixTimeMs = 1314639976000;
    valid.record.valid = true;
    valid.record.latitude = 23.1116683;
    valid.record.longitude = 114.409285;
    PositionRow invalid = valid;
    invalid.record.valid = false;
    std::vector<PositionRow> rows(LivePositions::BatchRows + 2, invalid);
    rows.back() = valid;
    view.positionsDecoded(rows);
    const QJsonObject changes = *view.positions().takeChanges();
    QCOMPARE(changes.value(QStringLiteral("skipped")).toInteger(), 2);
    const QJsonArray sent = changes.value(QStringLiteral("rows")).toArray();
    QCOMPARE(sent.size(), LivePositions::BatchRows);
    QCOMPARE(sent.at(0)[QStringLiteral("point")].toArray(), (QJsonArray{114.409285, 23.1116683, 1314639976000.0}));
    QCOMPARE(sent.at(0)[QStringLiteral("cells")][PositionCells::Latitude].toString(), QStringLiteral("23.1116683"));
    QCOMPARE(sent.at(1)[QStringLiteral("cells")][PositionCells::Valid].toString(), QStringLiteral("invalid"));
    QVERIFY(!sent.at(1).toObject().contains(QStringLiteral("point")));
    QCOMPARE(view.positions().rows().size(), LivePositions::BatchRows + 2);
}

void TestLiveView::trackersFollowTheirTable()
{
    LiveView view;
    QSignalSpy published(&view, &LiveView::published);
    view.setWatched(true);
    TrackerTable table;
    TrackerRow first{QStringLiteral("127.0.0.1:40001"), QStringLiteral("GT06"), QStringLiteral("123456789012345"), 1, 18, 10, 1314639976000000, 1314639977000000};
    TrackerRow second{QStringLiteral("127.0.0.1:40002"), {}, {}, 0, 0, 0, 1314639978000000, 0};
    table.add(&first);
    view.trackers().follow(table);
    view.showPart(view.trackers());
    // Viewers that watch get the table at once: the window's headings and cells, counts as numbers.
    QCOMPARE(published.size(), 2);
    const QJsonObject snapshot = parsed(published.at(1).at(0).toByteArray());
    QCOMPARE(snapshot.value(QStringLiteral("columns")).toVariant().toStringList(), TrackerTable::headings());
    const QJsonArray cells = snapshot.value(QStringLiteral("rows"))[0].toArray();
    QCOMPARE(cells.toVariantList().mid(0, TrackerTable::ConnectedSince),
             (QVariantList{first.peer, first.protocol, first.device, 1, 18, 10}));
    QVERIFY(cells.at(TrackerTable::LastChunk).toString().contains(QStringLiteral("2011")));

    // Once the table tells its changes: the rows that changed or joined since the last message,
    // then the names of those that left; a row that did not change is not sent again.
    first.bytesIn += 5;
    table.add(&second);
    view.setWatched(true); // a second viewer, whose snapshot is newer than the first's
    emit table.changed();
    QTRY_COMPARE(published.size(), 3);
    const QJsonArray changed = parsed(published.at(2).at(0).toByteArray()).value(QStringLiteral("rows")).toArray();
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed[0][TrackerTable::BytesIn].toInt(), 23);
    table.remove(&first);
    emit table.changed();
    QTRY_COMPARE(published.size(), 4);
    QCOMPARE(parsed(published.at(3).at(0).toByteArray()),
             QJsonDocument::fromJson(R"({"type":"trackers","rows":[],"gone":["127.0.0.1:40001"]})").object());
}

void TestLiveView::programShowsItsPositions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("decoding") << strings({"--decode", "--session-index"});
    QTest::newRow("not decoding") << QStringList();
}

void TestLiveView::programShowsItsPositions()
{
    QFETCH(QStringList, options);
    const bool decoding = !options.isEmpty();
    QTemporaryDir folder;
    const quint16 inPort = LoopbackSocket::freePort();
    QProcess program;
    QByteArray out;
    const quint16 webPort = startProgram(program, folder.path(), inPort, options, &out);
    QVERIFY(webPort != 0);
    QList<QByteArray> messages;
    const auto viewer = programViewer(webPort, &messages);
    // The login and location examples of the Concox GT06 protocol document (29 August 2011).
    LoopbackSocket tracker = LoopbackSocket::connectTo(inPort);
    QVERIFY(tracker.sendAll(QByteArray::fromHex("78780D01012345678901234500018CDD0D0A")));
    QTRY_VERIFY((out += program.readAllStandardOutput()).contains("IN (HEXAD)"));
    QVERIFY(tracker.sendAll(QByteArray::fromHex("78781F120B081D112E10CF027AC7EB0C46584900148F01CC00287D001FB8000380810D0A")));
    QTRY_COMPARE((out += program.readAllStandardOutput()).count("IN (HEXAD)"), 2);

    // The page has the table, its row and the data pane's POS line only while the program decodes.
    QString positions;
    QString data;
    QTRY_VERIFY2_WITH_TIMEOUT(([&] {
        positions.clear();
        data.clear();
        for (const QByteArray &message : std::as_const(messages)) {
            const QJsonObject m = parsed(message);
            for (const QJsonValue &row : m.value(QStringLiteral("rows")).toArray())
                positions += row[QStringLiteral("cells")].toVariant().toStringList().join(QLatin1Char(','));
            for (const QJsonValue &entry : m.value(QStringLiteral("lines")).toArray())
                data += m.value(QStringLiteral("type")).toString() == QStringLiteral("data") ? entry[1].toString() : QString();
        }
        return data.count(QStringLiteral("IN (HEXAD)")) == 2;
    }()), data.toUtf8().constData(), 5000);
    // The tables of the features that run, and only those.
    QCOMPARE(parsed(messages.at(0)).value(QStringLiteral("parts")).toVariant().toStringList(),
             decoding ? strings({"log", "data", "positions"}) : strings({"log", "data"}));
    QCOMPARE(positions.contains(QStringLiteral(",123456789012345,GT06,location,2011-08-29T17:46:16Z,valid,23.1116683,114.4092850,,0,143,15,mcc=460 mnc=0 lac=10365 cid=8120")), decoding);
    QCOMPARE(data.contains(QStringLiteral(": POS: GT06 123456789012345 2011-08-29T17:46:16Z valid 23.1116683,114.4092850")), decoding);

    // The downloads are the positions subcommand's files of the same capture.
    for (const char *format : {"gpx", "csv"}) {
        const QByteArray answer = exchange(webPort, get("/download/positions." + QByteArray(format) + "?token=" + Token.toLatin1()));
        if (!decoding) {
            QVERIFY2(answer.startsWith("HTTP/1.1 404"), answer.constData());
            continue;
        }
        QProcess positionsCommand;
        positionsCommand.start(QStringLiteral(GPSA_ANALYZER_BINARY), {QStringLiteral("positions"), QStringLiteral("--capture-dir"), folder.path(), QStringLiteral("--format"), QString::fromLatin1(format)});
        QVERIFY(positionsCommand.waitForFinished(10000));
        const QByteArray file = positionsCommand.readAllStandardOutput();
        QVERIFY(file.contains("23.1116683"));
        QVERIFY2(answer.startsWith("HTTP/1.1 200") && answer.endsWith("\r\n\r\n" + file), answer.constData());
    }
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
}

void TestLiveView::programShowsItsTrackers()
{
    QTemporaryDir folder;
    const quint16 inPort = LoopbackSocket::freePort();
    QProcess program;
    QByteArray out;
    const quint16 webPort = startProgram(program, folder.path(), inPort, strings({"--max-trackers", "3"}), &out);
    QVERIFY(webPort != 0);
    LoopbackSocket first = LoopbackSocket::connectTo(inPort);
    QVERIFY(first.sendAll("ABC"));
    QTRY_COMPARE((out += program.readAllStandardOutput()).count("  IN "), 2);
    LoopbackSocket second = LoopbackSocket::connectTo(inPort);
    QVERIFY(second.sendAll("HELLO"));
    QTRY_COMPARE((out += program.readAllStandardOutput()).count("  IN "), 4);
    // Address, protocol, device, chunks, bytes in and out of each, until the first leaves.
    QList<QByteArray> messages;
    const auto viewer = programViewer(webPort, &messages);
    const QString firstName = QStringLiteral("127.0.0.1:%1").arg(first.localPort());
    const QString secondName = QStringLiteral("127.0.0.1:%1").arg(second.localPort());
    const QVariantList secondRow{secondName, QString(), QString(), 1, 5, 0};
    QTRY_COMPARE(trackersShown(messages), (QMap<QString, QVariantList>{{firstName, {firstName, QString(), QString(), 1, 3, 0}}, {secondName, secondRow}}));
    QVERIFY(parsed(messages.at(0)).value(QStringLiteral("parts")).toArray().contains(QStringLiteral("trackers")));
    first.close();
    QTRY_COMPARE(trackersShown(messages), (QMap<QString, QVariantList>{{secondName, secondRow}}));
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
}

QTEST_MAIN(TestLiveView)
#include "tst_liveview.moc"
