#include "liveviewservice.h"

#if GPSA_WEB_VIEW
#include "liveviewserver.h"
#include "sessionerror.h"
#include "trackexport.h"

#include <QHostInfo>
#include <QUrl>
#endif

LiveViewService::LiveViewService(QString captureFolder, std::function<int()> inPort,
                                 std::function<void(const QString &)> logLine, QObject *parent)
    : QObject(parent)
    , m_captureFolder(std::move(captureFolder))
    , m_inPort(std::move(inPort))
    , m_logLine(std::move(logLine))
{
}

LiveViewService::~LiveViewService() = default;

#if GPSA_WEB_VIEW

bool LiveViewService::available()
{
    return true;
}

LiveViewServer *LiveViewService::server() const
{
    return static_cast<LiveViewServer *>(m_server.get());
}

quint16 LiveViewService::port() const
{
    return m_server ? server()->port() : 0;
}

bool LiveViewService::start(WebSettings settings)
{
    if (settings.token.isEmpty())
        settings.token = WebAccess::makeToken();
    auto downloads = [this](QByteArrayView kind, int session) {
        if (kind == "pcap")
            return SessionDownloads::pcap(m_captureFolder, m_inPort(), session);
        if (kind == "zip")
            return SessionDownloads::zip(m_captureFolder, m_inPort(), session);
        return positionsDownload(kind == "gpx" ? TrackFormat::Gpx : TrackFormat::Csv);
    };
    auto server = std::make_unique<LiveViewServer>(m_view, settings.token, downloads);
    if (!server->listen(settings.address, settings.port)) {
        m_error = QStringLiteral("The live view cannot listen on %1 port %2: %3")
                      .arg(settings.address.toString(), QString::number(settings.port), server->errorString());
        return false;
    }
    connect(server.get(), &LiveViewServer::viewerDropped, this, [this](const QString &peer, const QString &reason) {
        m_logLine(QStringLiteral("Live view ") + peer + QStringLiteral(" dropped: ") + reason + QStringLiteral(".\r\n"));
    });
    const bool everyAddress = settings.address == QHostAddress::AnyIPv4 || settings.address == QHostAddress::AnyIPv6 ||
                              settings.address == QHostAddress::Any;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(everyAddress ? QHostInfo::localHostName() : settings.address.toString());
    url.setPort(server->port());
    url.setPath(QStringLiteral("/"));
    url.setQuery(QStringLiteral("token=") + settings.token);
    m_address = url.toString();
    m_server = std::move(server);
    return true;
}

SessionDownloads::File LiveViewService::positionsDownload(TrackFormat format)
{
    if (!m_view.shows(m_view.positions()))
        throw SessionError(QStringLiteral("This run decodes no frames (--decode, Protocol > Decode frames)."));
    const bool gpx = format == TrackFormat::Gpx;
    return {gpx ? QStringLiteral("positions.gpx") : QStringLiteral("positions.csv"),
            gpx ? "application/gpx+xml" : "text/csv; charset=utf-8", exportTrack(m_view.positions().rows(), format)};
}

#else

bool LiveViewService::available()
{
    return false;
}

LiveViewServer *LiveViewService::server() const
{
    return nullptr;
}

quint16 LiveViewService::port() const
{
    return 0;
}

bool LiveViewService::start(WebSettings /*settings*/)
{
    m_error = QStringLiteral("This build of gps-analyzer has no live view: Qt WebSockets was missing.");
    return false;
}

#endif
