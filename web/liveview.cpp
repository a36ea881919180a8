#include "liveview.h"

#include "captureengine.h"

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
    showPart(m_log);
    showPart(m_data);
}

LiveView::~LiveView() = default;

void LiveView::showPart(LivePart &part)
{
    if (shows(part))
        return;
    m_parts.append(&part);
    part.setWatched(m_watched);
    part.setChangeNotice([this] { changesWait(); });
    // Viewers that watch already learn of the new part as one that connects now would.
    if (m_watched) {
        emit published(hello());
        emit published(json(part.snapshot()));
    }
}

void LiveView::showWhen(LivePart &part, std::function<bool()> condition)
{
    if (condition())
        showPart(part);
    else
        m_waitingParts.emplace_back(&part, std::move(condition));
}

void LiveView::follow(const CaptureEngine &engine)
{
    m_trackers.follow(engine.trackers());
    showWhen(m_trackers, [&engine] { return engine.features().maxTrackers > 1; });
    showWhen(m_positions, [&engine] { return engine.features().decode; });
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

void LiveView::positionsDecoded(std::span<const PositionRow> rows)
{
    showPart(m_positions);
    m_positions.append(rows);
}

void LiveView::eventHandled()
{
    std::erase_if(m_waitingParts, [this](const auto &waiting) {
        if (shows(*waiting.first))
            return true;
        if (!waiting.second())
            return false;
        showPart(*waiting.first);
        return true;
    });
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
