#include "liveview.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QByteArray json(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

} // namespace

LiveView::LiveView(QObject *parent)
    : QObject(parent)
    , m_log(QStringLiteral("log"), LivePane::DropEnd::Top)
    , m_data(QStringLiteral("data"), LivePane::DropEnd::Bottom)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &LiveView::publishChanges);
    addPart(m_log);
    addPart(m_data);
}

LiveView::~LiveView() = default;

void LiveView::addPart(LivePart &part)
{
    m_parts.append(&part);
    part.setWatched(m_watched);
    part.setChangeNotice([this] { changesWait(); });
}

QByteArray LiveView::hello() const
{
    QJsonArray types;
    for (const LivePart *part : m_parts)
        types.append(part->type());
    return json({{QStringLiteral("type"), QStringLiteral("hello")}, {QStringLiteral("parts"), types}});
}

QList<QByteArray> LiveView::snapshot() const
{
    QList<QByteArray> messages{hello()};
    for (const LivePart *part : m_parts)
        messages.append(json(part->snapshot()));
    return messages;
}

void LiveView::setWatched(bool watched)
{
    m_watched = watched;
    for (LivePart *part : std::as_const(m_parts))
        part->setWatched(watched);
    if (!watched) {
        m_changesWait = false;
        m_timer.stop();
    }
}

void LiveView::changesWait()
{
    if (m_changesWait)
        return;
    m_changesWait = true;
    // Lines that came outside the engine's handlers go out from the event loop.
    using namespace std::chrono;
    const milliseconds since =
        m_sinceLastMessages.isValid() ? milliseconds(m_sinceLastMessages.elapsed()) : BatchInterval;
    m_timer.start(std::max(BatchInterval - since, milliseconds(0)));
}

void LiveView::showPositions()
{
    if (showsPositions())
        return;
    addPart(m_positions);
    // Viewers that watch already learn of the new part as one that connects now would.
    if (m_watched) {
        emit published(hello());
        emit published(json(m_positions.snapshot()));
    }
}

void LiveView::positionsDecoded(std::span<const PositionRow> rows)
{
    showPositions();
    m_positions.append(rows);
}

void LiveView::eventHandled()
{
    if (m_decoding && !showsPositions() && m_decoding())
        showPositions();
    if (m_changesWait && (!m_sinceLastMessages.isValid() || m_sinceLastMessages.elapsed() >= BatchInterval.count()))
        publishChanges();
}

void LiveView::publishChanges()
{
    m_timer.stop();
    if (!m_changesWait)
        return;
    m_changesWait = false;
    m_sinceLastMessages.start();
    for (LivePart *part : std::as_const(m_parts)) {
        if (const std::optional<QJsonObject> changes = part->takeChanges())
            emit published(json(*changes));
    }
}
