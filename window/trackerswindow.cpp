#include "trackerswindow.h"

#include "trackertable.h"

#include <QHeaderView>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

TrackersWindow::TrackersWindow(TrackerTable &trackers, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_trackers(trackers)
    , m_table(new QTableView(this))
    , m_count(new QLabel(this))
{
    setWindowTitle(tr("Trackers"));
    setObjectName(QStringLiteral("TrackersWindow"));
    auto *sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(&trackers);
    sorted->setSortRole(Qt::UserRole); // numbers and times as numbers
    m_table->setModel(sorted);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(TrackerTable::ConnectedSince, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_count);
    connect(&trackers, &TrackerTable::rowsInserted, this, &TrackersWindow::showCount);
    connect(&trackers, &TrackerTable::rowsRemoved, this, &TrackersWindow::showCount);
    showCount();
    resize(900, 320);
}

void TrackersWindow::showCount()
{
    const int count = m_trackers.rowCount();
    m_count->setText(count == 1 ? tr("1 tracker connected") : tr("%1 trackers connected").arg(count));
}
