#ifndef GPSA_TRACKERTABLE_H
#define GPSA_TRACKERTABLE_H

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

// What the operator's table shows of one connected tracker. Its session keeps and counts it.
struct TrackerRow
{
    QString peer; // "127.0.0.1:40312"
    QString protocol;
    QString device;
    qint64 chunks = 0;
    qint64 bytesIn = 0;
    qint64 bytesOut = 0;    // sent to the tracker: commands, acknowledgements, answers passed on
    qint64 connectedUs = 0; // UTC microseconds since 1970
    qint64 lastChunkUs = 0; // 0 until its first chunk

    [[nodiscard]] bool operator==(const TrackerRow &) const = default;
};

// The trackers connected now, one row each in the order they connected, for whoever shows
// them (the window's table, the live web view). Rows come and go at once; their counts change
// with every chunk and are told at most every RefreshMs, by dataChanged() and changed().
class TrackerTable final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Tracker,
        Protocol,
        Device,
        Chunks,
        BytesIn,
        BytesOut,
        ConnectedSince,
        LastChunk,
        ColumnCount
    };
    static constexpr int RefreshMs = 500;

    explicit TrackerTable(QObject *parent = nullptr);

    [[nodiscard]] const TrackerRow &row(int index) const { return *m_rows.at(index); }
    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    // Texts for the display, numbers as numbers; the sort role gives times as numbers too.
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;
    // The columns' headings, in column order.
    [[nodiscard]] static const QStringList &headings();

    // The engine's side: a row joins (it lives until it leaves), its counts changed, it leaves.
    void add(const TrackerRow *row);
    void touch();
    void remove(const TrackerRow *row);

signals:
    void changed();

private:
    void refresh();

    QList<const TrackerRow *> m_rows;
    QTimer m_refresh;
};

#endif
