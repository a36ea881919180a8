#include "positionsmodel.h"

namespace {

QVariant sortValue(const PositionRow &row, int column)
{
    const PositionRecord &r = row.record;
    const auto number = [](const auto &value) { return value ? QVariant(double(*value)) : QVariant(); };
    switch (column) {
    case PositionsModel::Number:
        return row.number;
    case PositionsModel::Time:
        return row.timeUs;
    case PositionsModel::FixTime:
        return number(r.fixTimeMs);
    case PositionsModel::Valid:
        return r.valid;
    case PositionsModel::Latitude:
        return number(r.latitude);
    case PositionsModel::Longitude:
        return number(r.longitude);
    case PositionsModel::Altitude:
        return number(r.altitudeM);
    case PositionsModel::Speed:
        return number(r.speedKmh);
    case PositionsModel::Course:
        return number(r.courseDeg);
    case PositionsModel::Satellites:
        return number(r.satellites);
    default:
        return {};
    }
}

} // namespace

void PositionsModel::append(std::span<const PositionRow> rows)
{
    if (rows.empty())
        return;
    beginInsertRows({}, 0, int(rows.size()) - 1);
    m_rows.append(QList<PositionRow>(rows.begin(), rows.end()));
    endInsertRows();
    const qsizetype over = m_rows.size() - RowLimit;
    if (over > 0) {
        beginRemoveRows({}, int(RowLimit), int(m_rows.size()) - 1);
        m_rows.remove(0, over);
        endRemoveRows();
    }
}

int PositionsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PositionsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PositionsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const PositionRow &row = m_rows[m_rows.size() - 1 - index.row()];
    if (role == Qt::DisplayRole)
        return PositionCells::text(row, index.column());
    if (role == SortRole) {
        const QVariant value = sortValue(row, index.column());
        return value.isValid() ? value : QVariant(PositionCells::text(row, index.column()));
    }
    return {};
}

QVariant PositionsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return PositionCells::headings().value(section);
}
