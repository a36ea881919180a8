#include "positionsmodel.h"

#include "positiontext.h"

namespace {

template <typename T, typename Append>
QString text(const std::optional<T> &value, Append append)
{
    QByteArray out;
    if (value)
        append(out, *value);
    return QString::fromLatin1(out);
}

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

QString cellText(const PositionRow &row, int column)
{
    const PositionRecord &r = row.record;
    switch (column) {
    case PositionsModel::Number:
        return row.number == 0 ? QString() : QString::number(row.number);
    case PositionsModel::Time:
        return text(row.timeUs >= 0 ? std::optional(row.timeUs) : std::nullopt, PositionText::appendCaptureTime);
    case PositionsModel::Device:
        return row.device;
    case PositionsModel::Protocol:
        return protocolName(row.protocol);
    case PositionsModel::Message:
        return row.message;
    case PositionsModel::FixTime:
        return text(r.fixTimeMs, PositionText::appendFixTime);
    case PositionsModel::Valid:
        return r.valid ? QStringLiteral("valid") : QStringLiteral("invalid");
    case PositionsModel::Latitude:
        return text(r.latitude, PositionText::appendCoordinate);
    case PositionsModel::Longitude:
        return text(r.longitude, PositionText::appendCoordinate);
    case PositionsModel::Altitude:
        return text(r.altitudeM, PositionText::appendDecimal);
    case PositionsModel::Speed:
        return text(r.speedKmh, PositionText::appendDecimal);
    case PositionsModel::Course:
        return text(r.courseDeg, PositionText::appendDecimal);
    case PositionsModel::Satellites:
        return r.satellites ? QString::number(*r.satellites) : QString();
    default:
        return QString::fromLatin1(r.fields.joined(' '));
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
        return cellText(row, index.column());
    if (role == SortRole) {
        const QVariant value = sortValue(row, index.column());
        return value.isValid() ? value : QVariant(cellText(row, index.column()));
    }
    return {};
}

QVariant PositionsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList names{tr("Number"),   tr("Time (UTC)"), tr("Device"),    tr("Protocol"), tr("Message"),
                                   tr("Fix time"), tr("Fix"),        tr("Latitude"),  tr("Longitude"), tr("Altitude m"),
                                   tr("km/h"),     tr("Course °"),   tr("Satellites"), tr("Fields")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return names.value(section);
}
