#ifndef GPSA_POSITIONSWINDOW_H
#define GPSA_POSITIONSWINDOW_H

#include <QWidget>

class PositionsModel;
class QSortFilterProxyModel;
class QTableView;
class TrackView;

// View ▸ Positions: the decoded positions as a sortable table, newest first with the fields last,
// beside their track; both follow the capture as frames are decoded. The track can be saved as
// a PNG image.
class PositionsWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit PositionsWindow(PositionsModel &model, QWidget *parent = nullptr);

    [[nodiscard]] QTableView *table() const { return m_table; }
    [[nodiscard]] TrackView *track() const { return m_track; }
    // Writes the track as a PNG image of the view's size; false when the file cannot be written.
    [[nodiscard]] bool saveTrack(const QString &path) const;

private:
    void askAndSaveTrack();

    QSortFilterProxyModel *m_sorted;
    QTableView *m_table;
    TrackView *m_track;
};

#endif
