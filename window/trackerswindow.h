#ifndef GPSA_TRACKERSWINDOW_H
#define GPSA_TRACKERSWINDOW_H

#include <QWidget>

class QLabel;
class QTableView;
class TrackerTable;

// View ▸ Trackers: the trackers connected now, one row each, as the engine counts them; the
// table follows every connection and end at once and the counts twice a second. Sorted by a
// click on a column's head.
class TrackersWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit TrackersWindow(TrackerTable &trackers, QWidget *parent = nullptr);

    [[nodiscard]] QTableView *table() const { return m_table; }

private:
    void showCount();

    TrackerTable &m_trackers;
    QTableView *m_table;
    QLabel *m_count;
};

#endif
