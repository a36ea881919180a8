#ifndef GPSA_POSITIONSMODEL_H
#define GPSA_POSITIONSMODEL_H

#include "positioncells.h"
#include "positionrecorder.h"

#include <QAbstractTableModel>
#include <QList>

#include <span>

// The positions decoded during the run, newest first, for the positions window's table and track.
// The display role gives the text of a cell (PositionCells); SortRole a value that sorts as the
// column's kind does (numbers as numbers). At most RowLimit rows are kept: beyond, the oldest go
// first.
class PositionsModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    using enum PositionCells::Column;
    static constexpr int SortRole = Qt::UserRole;
    static constexpr qsizetype RowLimit = 100'000;

    explicit PositionsModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}

    void append(std::span<const PositionRow> rows);
    // Every row kept, oldest first.
    [[nodiscard]] const QList<PositionRow> &rows() const { return m_rows; }

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<PositionRow> m_rows;
};

#endif
