#ifndef GPSA_LIVEVIEWSERVER_H
#define GPSA_LIVEVIEWSERVER_H

#include "sessiondownloads.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocketServer>

#include <chrono>
#include <functional>
#include <memory>

struct HttpRequestHead;
class LiveView;
class QTcpSocket;
class QWebSocket;

// What the live view's server allows; see LiveViewServer.
struct LiveViewLimits
{
    int viewers = 20;
    qint64 viewerBacklog = 4 * 1024 * 1024;
    qsizetype headerBytes = 8 * 1024;
    std::chrono::milliseconds timeout{10000};
    int requests = 64;
};

// The live view's server: a small HTTP/1.1 server of its own on a QTcpServer, read-only, which
// serves the page and the downloads and upgrades the page's WebSocket through Qt's
// QWebSocketServer; on the program's one event loop.
//
// Every request needs the token: in the query ("?token=", answered for the page by a redirect to
// "/" that sets it as an HttpOnly, SameSite=Strict cookie), in that cookie, or as
// "Authorization: Bearer". Without it, or with another, the answer is a bare 401. One request per
// connection, GET only, no body, at most Limits::headerBytes of head; a connection that has not
// sent its head, or stops taking its answer, for Limits::timeout is closed. At most
// Limits::requests connections wait for an answer at a time: further ones are closed at once, so
// that a storm of connections costs an accept and a close each. No answer carries a CORS header.
//
// Viewers get the view's snapshot, then every message it publishes, as binary WebSocket messages
// of UTF-8 JSON. A viewer for whom more than Limits::viewerBacklog bytes wait is dropped: the
// capture never waits for one. (Qt's handshake answer carries Access-Control lines of its own;
// they are taken out.) Viewers are pinged; one that has not answered for
// Limits::timeout is dropped too.
class LiveViewServer final : public QObject
{
    Q_OBJECT

public:
    using Limits = LiveViewLimits;
    // The file of a download: "pcap" or "zip" of the session given (0: the last), or the decoded
    // positions as "gpx" or "csv". Throws a SessionError.
    using Downloads = std::function<SessionDownloads::File(QByteArrayView kind, int session)>;

    LiveViewServer(LiveView &view, QString token, Downloads downloads, Limits limits = {}, QObject *parent = nullptr);
    ~LiveViewServer() override;

    // False with errorString() when the address cannot be bound.
    bool listen(const QHostAddress &address, quint16 port);
    [[nodiscard]] QString errorString() const { return m_listener->errorString(); }
    [[nodiscard]] quint16 port() const { return m_listener->serverPort(); }
    [[nodiscard]] int viewerCount() const { return int(m_viewers.size()); }
    // The cookie that carries the token: named after the port, since cookies ignore ports.
    [[nodiscard]] QByteArray cookieName() const;

    static constexpr qint64 ViewerSendBuffer = 256 * 1024;

signals:
    // A viewer was dropped: its address and port, and why.
    void viewerDropped(const QString &peer, const QString &reason);

private:
    void takeConnections();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const HttpRequestHead &request);
    void download(QTcpSocket *socket, const HttpRequestHead &request, QByteArrayView kind);
    void respond(QTcpSocket *socket, int status, const QByteArray &fields = {}, const QByteArray &body = {});
    void finish(QTcpSocket *socket);
    [[nodiscard]] bool authorised(const HttpRequestHead &request) const;
    void upgrade(QTcpSocket *socket, const HttpRequestHead &request);
    void takeViewers();
    void publish(const QByteArray &message);
    void dropViewer(QWebSocket *viewer, const QString &reason);
    void pingViewers();

    LiveView &m_view;
    QByteArray m_token;
    Downloads m_downloads;
    Limits m_limits;
    std::unique_ptr<QTcpServer> m_listener;
    QWebSocketServer m_webSockets;
    // Connections that wait for an answer or take it.
    QSet<QTcpSocket *> m_requests;
    QTcpSocket *m_downloading = nullptr;
    // Connections in their WebSocket handshake, by peer address and port.
    QSet<QString> m_upgrading;
    QList<QWebSocket *> m_viewers;
    QHash<QWebSocket *, QElapsedTimer> m_lastHeard;
    QTimer m_pings;
};

#endif
