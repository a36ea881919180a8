#ifndef GPSA_LIVEVIEWSERVICE_H
#define GPSA_LIVEVIEWSERVICE_H

#include "liveview.h"
#include "sessiondownloads.h"
#include "webaccess.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class LiveViewServer;
enum class TrackFormat;

// The live web view of a front end: the page's model, which the front end's panes feed as its
// PaneWatcher, and the server that shows it to browsers. A build without Qt WebSockets has the
// model but no server: start() then says that the live view is not available.
class LiveViewService final : public QObject
{
    Q_OBJECT

public:
    // captureFolder: whose sessions the downloads offer; inPort: the IN port once capturing has
    // started, 0 before; logLine: adds a line to the connection log (a dropped viewer).
    LiveViewService(QString captureFolder, std::function<int()> inPort, std::function<void(const QString &)> logLine,
                    QObject *parent = nullptr);
    ~LiveViewService() override;

    // Whether this build has the live view's server.
    [[nodiscard]] static bool available();

    // Listens, with a token made now when the settings have none. False, with errorString(),
    // when the address cannot be bound or the build has no server.
    bool start(WebSettings settings);
    [[nodiscard]] QString errorString() const { return m_error; }
    // Where to open the page, token included: http://127.0.0.1:8080/?token=...; a server on every
    // address is shown by this host's name.
    [[nodiscard]] QString address() const { return m_address; }
    [[nodiscard]] quint16 port() const;

    [[nodiscard]] LiveView &view() { return m_view; }
    [[nodiscard]] LiveViewServer *server() const;

private:
    // The positions kept by the view, in the format given. Throws a SessionError when the
    // program does not decode.
    [[nodiscard]] SessionDownloads::File positionsDownload(TrackFormat format);

    QString m_captureFolder;
    std::function<int()> m_inPort;
    std::function<void(const QString &)> m_logLine;
    LiveView m_view;
    // The server once listening, held as the QObject that it is: a build without Qt WebSockets,
    // which has no server, still deletes the pointer.
    std::unique_ptr<QObject> m_server;
    QString m_error;
    QString m_address;
};

#endif
