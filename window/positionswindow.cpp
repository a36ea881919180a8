#include "positionswindow.h"

#include "positionsmodel.h"
#include "trackview.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

PositionsWindow::PositionsWindow(PositionsModel &model, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_sorted(new QSortFilterProxyModel(this))
    , m_table(new QTableView)
    , m_track(new TrackView(model))
{
    setWindowTitle(tr("Positions - gps-analyzer"));
    m_sorted->setSourceModel(&model);
    m_sorted->setSortRole(PositionsModel::SortRole);
    m_table->setModel(m_sorted);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(-1, Qt::AscendingOrder); // the model's own order, newest first, until a header is clicked
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();

    auto *splitter = new QSplitter;
    splitter->addWidget(m_table);
    splitter->addWidget(m_track);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    auto *save = new QPushButton(tr("&Save track as PNG…"));
    connect(save, &QPushButton::clicked, this, &PositionsWindow::askAndSaveTrack);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    layout->addWidget(save, 0, Qt::AlignRight);
    resize(1100, 520);
}

bool PositionsWindow::saveTrack(const QString &path) const
{
    return m_track->image(m_track->size()).save(path, "PNG");
}

void PositionsWindow::askAndSaveTrack()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save track"), QStringLiteral("track.png"),
                                                      tr("PNG images (*.png)"));
    if (!path.isEmpty() && !saveTrack(path))
        QMessageBox::warning(this, tr("Save track"), tr("%1 cannot be written.").arg(path));
}
