#include "analyzerfrm.h"
#include "browserstrip.h"
#include "loopbacksocket.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A one-page web server on loopback: answers every request with the given response bytes,
// or with none holds the connection open without answering.
class PageServer final : public QObject
{
public:
    explicit PageServer(QByteArray response) : m_response(std::move(response))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++requests;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_response.isEmpty() && m_request.contains("\r\n\r\n")) {
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
};

QByteArray httpResponse(const QByteArray &body, const QByteArray &status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

class tst_BrowserStrip final : public QObject
{
    Q_OBJECT

private slots:
    void navigate_data();
    void navigate();
    void laterNavigationWins();
};

void tst_BrowserStrip::navigate_data()
{
    QTest::addColumn<QString>("address"); // %FILE: a page on disk as a file: address, %PATH: as a path, %HTTP: served
    QTest::addColumn<QByteArray>("served");
    QTest::addColumn<QString>("shown"); // empty: the load fails and the strip goes blank
    const QByteArray page("<html><body><p>A page \xC2\xA6 {{v}}</p></body></html>");
    // A page from disk has its values put in, as plain text; a fetched page is shown as it came.
    const QString filled = QStringLiteral("A page \u00A6 <caps & more>");
    QTest::newRow("file: address") << QStringLiteral("%FILE") << QByteArray() << filled;
    QTest::newRow("plain path") << QStringLiteral("%PATH") << QByteArray() << filled;
    QTest::newRow("fetched over HTTP") << QStringLiteral("%HTTP") << httpResponse(page)
                                       << QStringLiteral("A page \u00A6 {{v}}");
    QTest::newRow("nothing listens") << QStringLiteral("http://127.0.0.1:%1/ad.html").arg(LoopbackSocket::freePort())
                                     << QByteArray() << QString();
    QTest::newRow("not found") << QStringLiteral("%HTTP") << httpResponse("<p>gone</p>", "404 Not Found") << QString();
    QTest::newRow("page too large") << QStringLiteral("%HTTP")
                                    << httpResponse(QByteArray(BrowserStrip::MaxPageBytes + 1, 'x')) << QString();
    QTest::newRow("missing resource") << QStringLiteral("qrc:/gpsa/missing.html") << QByteArray() << QString();
    QTest::newRow("missing file") << QStringLiteral("file:///nonexistent/ad.html") << QByteArray() << QString();
    QTest::newRow("unknown scheme") << QStringLiteral("gopher://127.0.0.1/ad") << QByteArray() << QString();
}

void tst_BrowserStrip::navigate()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, served);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    QFile page(dir.filePath(QStringLiteral("page.html")));
    QVERIFY(page.open(QIODevice::WriteOnly) && page.write("<html><body><p>A page \xC2\xA6 {{v}}</p></body></html>") > 0);
    page.close();
    PageServer server(served);
    address.replace(QStringLiteral("%FILE"), QUrl::fromLocalFile(page.fileName()).toString())
        .replace(QStringLiteral("%PATH"), page.fileName())
        .replace(QStringLiteral("%HTTP"), server.address());

    BrowserStrip strip;
    strip.setPageValue(QStringLiteral("v"), QStringLiteral("<caps & more>"));
    QSignalSpy finished(&strip, &BrowserStrip::loadFinished);
    strip.Navigate(AnalyzerFrm::advertisementAddress());
    QVERIFY(finished.wait(10000));
    const QString before = strip.toPlainText();
    QVERIFY(!before.isEmpty());

    strip.Navigate(address);
    QCOMPARE(strip.toPlainText(), before); // Navigate only starts the load
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
    QCOMPARE(finished.at(1).first().toBool(), !shown.isEmpty());
    QCOMPARE(strip.toPlainText(), shown);
    QCOMPARE(server.requests, address.startsWith(server.address()) ? 1 : 0);
}

void tst_BrowserStrip::laterNavigationWins()
{
    PageServer silent({}); // takes the request and never answers
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

QTEST_MAIN(tst_BrowserStrip)
#include "tst_browserstrip.moc"
