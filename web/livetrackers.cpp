#include "livetrackers.h"

LiveTrackers::~LiveTrackers()
{
    QObject::disconnect(m_tableChanged);
}

void LiveTrackers::follow(const TrackerTable &table)
{
    QObject::disconnect(m_tableChanged);
    m_table = &table;
    m_tableChanged = QObject::connect(&table, &TrackerTable::changed, [this] {
        m_changed = true;
        changed();
    });
    m_told = watched() ? rowsNow() : QHash<QString, TrackerRow>();
}

QJsonArray LiveTrackers::cells(int row) const
{
    QJsonArray cells;
    for (int column = 0; column < TrackerTable::ColumnCount; ++column)
        cells.append(QJsonValue::fromVariant(m_table->data(m_table->index(row, column))));
    return cells;
}

QHash<QString, TrackerRow> LiveTrackers::rowsNow() const
{
    QHash<QString, TrackerRow> rows;
    const int count = m_table ? m_table->rowCount() : 0;
    rows.reserve(count);
    for (int row = 0; row < count; ++row)
        rows.insert(m_table->row(row).peer, m_table->row(row));
    return rows;
}

QJsonObject LiveTrackers::snapshot() const
{
    QJsonArray rows;
    for (int row = 0; m_table && row < m_table->rowCount(); ++row)
        rows.append(cells(row));
    return {{QStringLiteral("type"), type()},
            {QStringLiteral("clear"), true},
            {QStringLiteral("columns"), QJsonArray::fromStringList(TrackerTable::headings())},
            {QStringLiteral("rows"), rows}};
}

std::optional<QJsonObject> LiveTrackers::takeChanges()
{
    if (!m_changed || !m_table)
        return std::nullopt;
    m_changed = false;
    QHash<QString, TrackerRow> now = rowsNow();
    QJsonArray rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const TrackerRow &tracker = m_table->row(row);
        const auto told = m_told.constFind(tracker.peer);
        if (told == m_told.cend() || *told != tracker)
            rows.append(cells(row));
    }
    QJsonArray gone;
    for (auto told = m_told.cbegin(); told != m_told.cend(); ++told) {
        if (!now.contains(told.key()))
            gone.append(told.key());
    }
    m_told = std::move(now);
    if (rows.isEmpty() && gone.isEmpty())
        return std::nullopt;
    QJsonObject message{{QStringLiteral("type"), type()}, {QStringLiteral("rows"), rows}};
    if (!gone.isEmpty())
        message.insert(QStringLiteral("gone"), gone);
    return message;
}

void LiveTrackers::setWatched(bool watched)
{
    // The first viewer gets the rows as they are now in its snapshot; viewers that watch already
    // go on being told what changed since their last message.
    if (watched != this->watched()) {
        m_told = watched ? rowsNow() : QHash<QString, TrackerRow>();
        m_changed = false;
    }
    LivePart::setWatched(watched);
}
