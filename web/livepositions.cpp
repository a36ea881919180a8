#include "livepositions.h"

#include "positioncells.h"

#include <QJsonArray>

namespace {

QJsonObject rowEntry(const PositionRow &row)
{
    QJsonArray cells;
    for (int column = 0; column < PositionCells::ColumnCount; ++column)
        cells.append(PositionCells::text(row, column));
    QJsonObject entry{{QStringLiteral("cells"), cells}};
    const PositionRecord &record = row.record;
    if (record.valid && record.latitude && record.longitude) {
        entry.insert(QStringLiteral("point"),
                     QJsonArray{*record.longitude, *record.latitude,
                                record.fixTimeMs ? QJsonValue(double(*record.fixTimeMs)) : QJsonValue()});
    }
    return entry;
}

} // namespace

void LivePositions::append(std::span<const PositionRow> rows)
{
    if (rows.empty())
        return;
    m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    while (qsizetype(m_rows.size()) > KeptRows)
        m_rows.pop_front();
    if (watched()) {
        m_newRows += qsizetype(rows.size());
        if (m_newRows > BatchRows) {
            m_skipped += m_newRows - BatchRows;
            m_newRows = BatchRows;
        }
    }
    changed();
}

QJsonArray LivePositions::newest(qsizetype count) const
{
    QJsonArray rows;
    for (auto row = m_rows.rbegin(); row != m_rows.rend() && rows.size() < count; ++row)
        rows.append(rowEntry(*row));
    return rows;
}

QJsonObject LivePositions::snapshot() const
{
    return {{QStringLiteral("type"), type()},
            {QStringLiteral("clear"), true},
            {QStringLiteral("columns"), QJsonArray::fromStringList(PositionCells::headings())},
            {QStringLiteral("rows"), newest(SnapshotRows)}};
}

std::optional<QJsonObject> LivePositions::takeChanges()
{
    if (m_newRows == 0)
        return std::nullopt;
    QJsonObject message{{QStringLiteral("type"), type()}, {QStringLiteral("rows"), newest(m_newRows)}};
    if (m_skipped > 0)
        message.insert(QStringLiteral("skipped"), m_skipped);
    m_newRows = 0;
    m_skipped = 0;
    return message;
}

void LivePositions::setWatched(bool watched)
{
    LivePart::setWatched(watched);
    if (!watched) {
        m_newRows = 0;
        m_skipped = 0;
    }
}
