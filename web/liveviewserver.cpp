#include "liveviewserver.h"

#include "httprequesthead.h"
#include "liveview.h"
#include "sessionerror.h"
#include "webaccess.h"

#include <QFile>
#include <QLocale>
#include <QTcpSocket>
#include <QWebSocket>

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}

// The page's own files: nothing else may load, run or frame it.
const QByteArray PageFields = "Cache-Control: no-store\r\n"
                              "X-Content-Type-Options: nosniff\r\n"
                              "Referrer-Policy: no-referrer\r\n"
                              "X-Frame-Options: DENY\r\n"
                              "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
                              "connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; "
                              "frame-ancestors 'none'\r\n";

struct Resource
{
    const char *path;
    const char *file;
    const char *type;
};
constexpr Resource Resources[] = {
    {"/", ":/gpsa/web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/gpsa/web/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/gpsa/web/style.css", "text/css; charset=utf-8"},
};

// The downloads by path, with the kind the downloads function takes.
constexpr std::pair<QByteArrayView, QByteArrayView> DownloadPaths[] = {
    {"/download/session.pcap", "pcap"},
    {"/download/session.zip", "zip"},
    {"/download/positions.gpx", "gpx"},
    {"/download/positions.csv", "csv"},
};

// A connection of the server. The WebSocket handshake's answer, which Qt writes, goes out without
// the Access-Control lines that Qt adds to it: no page of another site is to read anything here.
class RequestSocket final : public QTcpSocket
{
public:
    using QTcpSocket::QTcpSocket;
    void leaveOutAccessControl() { m_filtering = true; }

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        if (!m_filtering)
            return QTcpSocket::writeData(data, size);
        m_head.append(data, size);
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end >= 0) {
            m_filtering = false;
            QByteArray kept;
            for (const QByteArray &line : m_head.first(end + 2).split('\n')) {
                if (!line.isEmpty() && !line.startsWith("Access-Control-"))
                    kept += line + '\n';
            }
            kept += "\r\n" + m_head.mid(end + 4);
            m_head.clear();
            if (QTcpSocket::writeData(kept.constData(), kept.size()) < 0)
                return -1;
        }
        return size;
    }

private:
    bool m_filtering = false;
    QByteArray m_head;
};

class Listener final : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new RequestSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            addPendingConnection(socket);
        else
            delete socket;
    }
};

QString peerOf(const QHostAddress &address, quint16 port)
{
    return address.toString() + QLatin1Char(':') + QString::number(port);
}

} // namespace

LiveViewServer::LiveViewServer(LiveView &view, QString token, Downloads downloads, Limits limits, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_token(token.toLatin1())
    , m_downloads(std::move(downloads))
    , m_limits(limits)
    , m_listener(std::make_unique<Listener>())
    , m_webSockets(QStringLiteral("gps-analyzer"), QWebSocketServer::NonSecureMode)
{
    m_listener->setListenBacklogSize(1024);
    m_webSockets.setHandshakeTimeout(m_limits.timeout);
    connect(m_listener.get(), &QTcpServer::newConnection, this, &LiveViewServer::takeConnections);
    connect(&m_webSockets, &QWebSocketServer::newConnection, this, &LiveViewServer::takeViewers);
    connect(&m_view, &LiveView::published, this, &LiveViewServer::publish);
    connect(&m_pings, &QTimer::timeout, this, &LiveViewServer::pingViewers);
    m_pings.start(m_limits.timeout / 2);
}

LiveViewServer::~LiveViewServer()
{
    // Sockets that go with the listener report nothing to a server already half gone.
    for (QTcpSocket *socket : m_listener->findChildren<QTcpSocket *>())
        socket->disconnect(this);
    for (QWebSocket *viewer : std::as_const(m_viewers)) {
        viewer->disconnect(this);
        delete viewer;
    }
    m_view.setWatched(false);
}

bool LiveViewServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener->listen(address, port);
}

QByteArray LiveViewServer::cookieName() const
{
    return "gpsa_token_" + QByteArray::number(port());
}

void LiveViewServer::takeConnections()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        if (m_requests.size() >= m_limits.requests) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_requests.insert(socket);
        socket->setReadBufferSize(m_limits.headerBytes);
        // Reset by every byte the client takes, so that a long download of a reader that keeps
        // reading is not cut.
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->start(m_limits.timeout);
        connect(deadline, &QTimer::timeout, this, [this, socket] { finish(socket); });
        connect(socket, &QTcpSocket::bytesWritten, deadline, [deadline, this] { deadline->start(m_limits.timeout); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { finish(socket); });
        readRequest(socket);
    }
}

void LiveViewServer::finish(QTcpSocket *socket)
{
    if (!m_requests.remove(socket))
        return;
    if (m_downloading == socket)
        m_downloading = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void LiveViewServer::readRequest(QTcpSocket *socket)
{
    const QByteArray waiting = socket->peek(m_limits.headerBytes);
    const qsizetype end = waiting.indexOf("\r\n\r\n");
    if (end < 0) {
        if (waiting.size() >= m_limits.headerBytes)
            respond(socket, 431);
        return;
    }
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    if (const std::optional<HttpRequestHead> request = HttpRequestHead::parse(QByteArrayView(waiting).first(end)))
        answer(socket, *request);
    else
        respond(socket, 400);
}

bool LiveViewServer::authorised(const HttpRequestHead &request) const
{
    std::optional<QByteArray> presented = request.queryItem("token");
    if (!presented)
        presented = request.cookie(cookieName());
    if (const QByteArray authorization = request.field("authorization"); !presented && authorization.startsWith("Bearer "))
        presented = authorization.mid(7).trimmed();
    return presented && WebAccess::sameToken(*presented, m_token);
}

void LiveViewServer::answer(QTcpSocket *socket, const HttpRequestHead &request)
{
    if (request.method != "GET")
        return respond(socket, 405, "Allow: GET\r\n");
    if ((request.hasField("content-length") && request.field("content-length") != "0") ||
        request.hasField("transfer-encoding"))
        return respond(socket, 413);
    if (!authorised(request))
        return respond(socket, 401);
    if (request.path == "/" && request.queryItem("token")) {
        // The token leaves the address bar and every address the page loads.
        return respond(socket, 303,
                       "Location: /\r\nSet-Cookie: " + cookieName() + '=' + m_token +
                           "; Path=/; HttpOnly; SameSite=Strict\r\n");
    }
    if (request.path == "/live")
        return upgrade(socket, request);
    for (const auto &[path, kind] : DownloadPaths) {
        if (request.path == path)
            return download(socket, request, kind);
    }
    for (const Resource &resource : Resources) {
        if (request.path == resource.path) {
            QFile file(QString::fromLatin1(resource.file));
            (void)file.open(QIODevice::ReadOnly);
            return respond(socket, 200, PageFields + "Content-Type: " + resource.type + "\r\n",
                           file.readAll());
        }
    }
    respond(socket, 404);
}

void LiveViewServer::download(QTcpSocket *socket, const HttpRequestHead &request, QByteArrayView kind)
{
    // One at a time: each is made in memory.
    if (m_downloading != nullptr)
        return respond(socket, 503, "Retry-After: 10\r\n");
    try {
        const SessionDownloads::File file = m_downloads(kind, request.queryItem("session").value_or("0").toInt());
        m_downloading = socket;
        respond(socket, 200,
                "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nContent-Type: " + file.contentType +
                    "\r\nContent-Disposition: attachment; filename=\"" + file.name.toLatin1() + "\"\r\n",
                file.bytes);
    } catch (const SessionError &error) {
        respond(socket, 404, "Content-Type: text/plain; charset=utf-8\r\n", error.message().toUtf8() + '\n');
    }
}

void LiveViewServer::respond(QTcpSocket *socket, int status, const QByteArray &fields, const QByteArray &body)
{
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    head += fields;
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    socket->write(body);
    // Closes once the answer has gone out; the deadline closes it if the client stops taking it.
    socket->disconnectFromHost();
}

void LiveViewServer::upgrade(QTcpSocket *socket, const HttpRequestHead &request)
{
    if (!request.fieldHas("upgrade", "websocket") || !request.fieldHas("connection", "upgrade"))
        return respond(socket, 400);
    // A page of another site may not watch, whatever the browser sends along.
    if (const QByteArray origin = request.field("origin");
        !origin.isEmpty() && origin != "http://" + request.field("host"))
        return respond(socket, 403);
    if (m_viewers.size() + m_upgrading.size() >= m_limits.viewers)
        return respond(socket, 503);
    m_requests.remove(socket);
    socket->disconnect(this);
    qDeleteAll(socket->findChildren<QTimer *>(Qt::FindDirectChildrenOnly));
    // A fixed kernel buffer, so that what waits for a viewer waits where it is counted.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(ViewerSendBuffer));
    const QString peer = peerOf(socket->peerAddress(), socket->peerPort());
    m_upgrading.insert(peer);
    connect(socket, &QObject::destroyed, this, [this, peer] { m_upgrading.remove(peer); });
    // The head is still unread in the socket: the handshake reads it from there.
    static_cast<RequestSocket *>(socket)->leaveOutAccessControl();
    m_webSockets.handleConnection(socket);
}

void LiveViewServer::takeViewers()
{
    while (QWebSocket *viewer = m_webSockets.nextPendingConnection()) {
        m_upgrading.remove(peerOf(viewer->peerAddress(), viewer->peerPort()));
        m_view.publishWaitingChanges();
        viewer->setParent(this);
        // A viewer only listens: nothing it sends is of use.
        viewer->setMaxAllowedIncomingFrameSize(1024);
        viewer->setMaxAllowedIncomingMessageSize(1024);
        m_viewers.append(viewer);
        m_lastHeard[viewer].start();
        connect(viewer, &QWebSocket::disconnected, this, [this, viewer] { dropViewer(viewer, {}); });
        connect(viewer, &QWebSocket::pong, this, [this, viewer] { m_lastHeard[viewer].start(); });
        m_view.setWatched(true);
        for (const QByteArray &message : m_view.snapshot())
            viewer->sendBinaryMessage(message);
    }
}

void LiveViewServer::publish(const QByteArray &message)
{
    for (QWebSocket *viewer : QList<QWebSocket *>(m_viewers)) {
        viewer->sendBinaryMessage(message);
        if (viewer->bytesToWrite() > m_limits.viewerBacklog)
            dropViewer(viewer, QStringLiteral("more than %1 waited for it")
                                    .arg(QLocale::c().formattedDataSize(m_limits.viewerBacklog, 0,
                                                                        QLocale::DataSizeIecFormat)));
    }
}

void LiveViewServer::pingViewers()
{
    for (QWebSocket *viewer : QList<QWebSocket *>(m_viewers)) {
        if (m_lastHeard[viewer].elapsed() > (m_limits.timeout + m_pings.intervalAsDuration()).count())
            dropViewer(viewer, QStringLiteral("it stopped answering"));
        else
            viewer->ping();
    }
}

void LiveViewServer::dropViewer(QWebSocket *viewer, const QString &reason)
{
    if (!m_viewers.removeOne(viewer))
        return;
    m_lastHeard.remove(viewer);
    viewer->disconnect(this);
    if (!reason.isEmpty())
        emit viewerDropped(peerOf(viewer->peerAddress(), viewer->peerPort()), reason);
    viewer->abort();
    viewer->deleteLater();
    if (m_viewers.isEmpty())
        m_view.setWatched(false);
}
