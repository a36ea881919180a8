#include "trackertable.h"

#include "datetimetext.h"

TrackerTable::TrackerTable(QObject *parent)
    : QAbstractTableModel(parent)
{
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &TrackerTable::refresh);
}

int TrackerTable::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TrackerTable::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrackerTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const TrackerRow &r = *m_rows.at(index.row());
    const auto time = [role](qint64 us) -> QVariant {
        if (role == Qt::UserRole)
            return us;
        return us == 0 ? QString() : DateTimeText::general(QDateTime::fromMSecsSinceEpoch(us / 1000));
    };
    if (role == Qt::TextAlignmentRole)
        return index.column() >= Chunks && index.column() <= BytesOut ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                                      : int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::UserRole)
        return {};
    switch (Column(index.column())) {
    case Tracker:
        return r.peer;
    case Protocol:
        return r.protocol;
    case Device:
        return r.device;
    case Chunks:
        return r.chunks;
    case BytesIn:
        return r.bytesIn;
    case BytesOut:
        return r.bytesOut;
    case ConnectedSince:
        return time(r.connectedUs);
    case LastChunk:
        return time(r.lastChunkUs);
    case ColumnCount:
        break;
    }
    return {};
}

const QStringList &TrackerTable::headings()
{
    static const QStringList names{QStringLiteral("Tracker"),  QStringLiteral("Protocol"),
                                   QStringLiteral("Device"),   QStringLiteral("Chunks"),
                                   QStringLiteral("Bytes in"), QStringLiteral("Bytes out"),
                                   QStringLiteral("Connected since"), QStringLiteral("Last chunk")};
    return names;
}

QVariant TrackerTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return headings().at(section);
}

void TrackerTable::add(const TrackerRow *row)
{
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
    m_rows.append(row);
    endInsertRows();
    touch();
}

void TrackerTable::touch()
{
    if (!m_refresh.isActive())
        m_refresh.start();
}

void TrackerTable::remove(const TrackerRow *row)
{
    const qsizetype at = m_rows.indexOf(row);
    if (at < 0)
        return;
    beginRemoveRows({}, int(at), int(at));
    m_rows.removeAt(at);
    endRemoveRows();
    touch();
}

void TrackerTable::refresh()
{
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, Protocol), index(int(m_rows.size()) - 1, LastChunk));
    emit changed();
}
