#include "analyzerfrm.h"
#include "browserstrip.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A one-page web server on loopback: answers every request with the given response bytes,
// or holds the connection open without answering.
class PageServer final : public QObject
{
public:
    explicit PageServer(QByteArray response, bool answer = true) : m_response(std::move(response)), m_answer(answer)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++requests;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (m_answer && m_request.contains("\r\n\r\n")) {
                        socket->write(m_response);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }
    [[nodiscard]] QString address(const char *path = "/ad.html") const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(QLatin1StringView(path));
    }
    int requests = 0;

private:
    QTcpServer m_server;
    QByteArray m_response;
    QByteArray m_request;
    bool m_answer;
};

QByteArray httpResponse(const QByteArray &body, const QByteArray &status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// A loopback port on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestBrowserStrip final : public QObject
{
    Q_OBJECT

private slots:
    void pagesShown_data();
    void pagesShown();
    void unreachableAddressLeavesTheStripBlank_data();
    void unreachableAddressLeavesTheStripBlank();
    void laterNavigationWins();
};

void TestBrowserStrip::pagesShown_data()
{
    QTest::addColumn<QString>("how"); // a file: address, a plain path, or over HTTP
    QTest::newRow("file: address") << QStringLiteral("file");
    QTest::newRow("plain path") << QStringLiteral("path");
    QTest::newRow("fetched over HTTP") << QStringLiteral("http");
}

void TestBrowserStrip::pagesShown()
{
    QFETCH(QString, how);
    const QByteArray html("<html><body><p>A page \xC2\xA6 {{v}}</p></body></html>");
    QTemporaryDir dir;
    QFile page(dir.filePath(QStringLiteral("page.html")));
    QVERIFY(page.open(QIODevice::WriteOnly) && page.write(html) == html.size());
    page.close();
    PageServer server(httpResponse(html));

    BrowserStrip strip;
    strip.setPageValue(QStringLiteral("v"), QStringLiteral("<caps & more>"));
    QSignalSpy finished(&strip, &BrowserStrip::loadFinished);
    strip.Navigate(how == QLatin1StringView("http")   ? server.address()
                   : how == QLatin1StringView("file") ? QUrl::fromLocalFile(page.fileName()).toString()
                                                      : page.fileName());
    QVERIFY(strip.toPlainText().isEmpty()); // Navigate only starts the load
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toBool(), true);
    // A page from disk has its values put in, as plain text; a fetched page is shown as it came.
    QCOMPARE(strip.toPlainText(), QStringLiteral("A page \u00A6 ") + (how == QLatin1StringView("http")
                                                                          ? QStringLiteral("{{v}}")
                                                                          : QStringLiteral("<caps & more>")));
    QCOMPARE(server.requests, how == QLatin1StringView("http") ? 1 : 0);
}

void TestBrowserStrip::unreachableAddressLeavesTheStripBlank_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("served"); // a response to serve, or nothing for no server
    QTest::newRow("nothing listens")
        << QStringLiteral("http://127.0.0.1:%1/ad.html").arg(closedPort()) << QByteArray();
    QTest::newRow("not found") << QString() << httpResponse("<p>gone</p>", "404 Not Found");
    QTest::newRow("page too large") << QString()
                                    << httpResponse(QByteArray(BrowserStrip::MaxPageBytes + 1, 'x'));
    QTest::newRow("missing resource") << QStringLiteral("qrc:/gpsa/missing.html") << QByteArray();
    QTest::newRow("missing file") << QStringLiteral("file:///nonexistent/ad.html") << QByteArray();
    QTest::newRow("unknown scheme") << QStringLiteral("gopher://127.0.0.1/ad") << QByteArray();
}

void TestBrowserStrip::unreachableAddressLeavesTheStripBlank()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, served);
    std::unique_ptr<PageServer> server;
    if (!served.isEmpty()) {
        server = std::make_unique<PageServer>(served);
        address = server->address();
    }

    BrowserStrip strip;
    QSignalSpy finished(&strip, &BrowserStrip::loadFinished);
    strip.Navigate(AnalyzerFrm::advertisementAddress());
    QVERIFY(finished.wait(10000));
    QVERIFY(!strip.toPlainText().isEmpty());

    strip.Navigate(address);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
    QCOMPARE(finished.at(1).first().toBool(), false);
    QVERIFY(strip.toPlainText().isEmpty());
}

void TestBrowserStrip::laterNavigationWins()
{
    PageServer silent(QByteArray(), false); // takes the request and never answers
    BrowserStrip strip;
    QSignalSpy finished(&strip, &BrowserStrip::loadFinished);
    strip.Navigate(silent.address());
    QTRY_COMPARE_WITH_TIMEOUT(silent.requests, 1, 10000);
    strip.Navigate(AnalyzerFrm::advertisementAddress());
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 10000);
    QTest::qWait(200); // room for a stale answer, which must not show
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(strip.toPlainText().contains(QStringLiteral("gps-analyzer")));
}

QTEST_MAIN(TestBrowserStrip)
#include "tst_browserstrip.moc"
