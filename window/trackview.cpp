#include "trackview.h"

#include "positionsmodel.h"
#include "trackexport.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr double MetresPerDegree = 111'320.0;
constexpr int Margin = 24;

// The longest of 1, 2 and 5 times a power of ten metres that is at most `metres`.
double roundLength(double metres)
{
    const double power = std::pow(10.0, std::floor(std::log10(metres)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * power <= metres)
            return step * power;
    }
    return power;
}

QString lengthText(double metres)
{
    return metres >= 1000 ? QStringLiteral("%1 km").arg(metres / 1000) : QStringLiteral("%1 m").arg(metres);
}

// Where a position falls in the area: longitudes shrunk by the cosine of the middle latitude, so
// that a metre is as long across as up, and the whole fitted and centred.
struct Projection
{
    double west = 0, east = 0, south = 0, north = 0, xScale = 1, pixelsPerDegree = 1;
    QPointF origin;

    Projection(const QList<QList<const PositionRow *>> &tracks, const QRect &area)
    {
        bool first = true;
        for (const auto &track : tracks) {
            for (const PositionRow *row : track) {
                const double lat = *row->record.latitude, lon = *row->record.longitude;
                west = first ? lon : std::min(west, lon), east = first ? lon : std::max(east, lon);
                south = first ? lat : std::min(south, lat), north = first ? lat : std::max(north, lat);
                first = false;
            }
        }
        xScale = std::cos((south + north) / 2 * M_PI / 180);
        // A single point, or points on one line, still get a view of about 200 m.
        const double width = std::max((east - west) * xScale, 0.002), height = std::max(north - south, 0.002);
        pixelsPerDegree = std::min((area.width() - 2 * Margin) / width, (area.height() - 2 * Margin) / height);
        origin = QPointF(area.center()) - QPointF(((west + east) / 2 * xScale) * pixelsPerDegree,
                                                  -((south + north) / 2) * pixelsPerDegree);
    }

    [[nodiscard]] QPointF at(const PositionRow &row) const
    {
        return origin + QPointF(*row.record.longitude * xScale * pixelsPerDegree, -*row.record.latitude * pixelsPerDegree);
    }
};

} // namespace

TrackView::TrackView(const PositionsModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setMinimumSize(200, 200);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&model, signal, this, qOverload<>(&QWidget::update));
}

QImage TrackView::image(QSize size) const
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(painter, image.rect());
    return image;
}

void TrackView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    paint(painter, rect());
}

// Draws the tracks, then the newest position, the legend, the scale bar and the north arrow.
void TrackView::paint(QPainter &painter, const QRect &area) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    const QList<QList<const PositionRow *>> tracks = tracksOf(m_model.rows());
    if (tracks.isEmpty()) {
        painter.setPen(Qt::darkGray);
        painter.drawText(area, Qt::AlignCenter, tr("No valid position yet"));
        return;
    }
    static const QColor colours[] = {QColor(0, 90, 200), QColor(200, 40, 40), QColor(30, 150, 60),
                                     QColor(160, 80, 190), QColor(220, 130, 0)};
    const Projection projection(tracks, area);
    const PositionRow *newest = nullptr;
    for (qsizetype t = 0; t < tracks.size(); ++t) {
        const QColor colour = colours[t % std::size(colours)];
        QPainterPath line;
        for (const PositionRow *row : tracks[t]) {
            line.elementCount() == 0 ? line.moveTo(projection.at(*row)) : line.lineTo(projection.at(*row));
            newest = !newest || row > newest ? row : newest; // rows lie in arrival order
        }
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(line);
        painter.setBrush(colour);
        for (const PositionRow *row : tracks[t])
            painter.drawEllipse(projection.at(*row), 3, 3);
        painter.drawText(area.left() + Margin, area.top() + 16 + 16 * int(t),
                         tracks[t].front()->device.isEmpty() ? protocolName(tracks[t].front()->protocol)
                                                             : tracks[t].front()->device);
    }
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(projection.at(*newest), 8, 8);

    // The scale bar, bottom left, at most a quarter of the width.
    const double metresPerPixel = MetresPerDegree / projection.pixelsPerDegree;
    const double metres = roundLength(area.width() / 4.0 * metresPerPixel);
    const double pixels = metres / metresPerPixel;
    const QPointF start(area.left() + Margin, area.bottom() - Margin);
    painter.drawLine(start, start + QPointF(pixels, 0));
    for (const double x : {0.0, pixels})
        painter.drawLine(start + QPointF(x, -5), start + QPointF(x, 0));
    painter.drawText(start + QPointF(0, -8), lengthText(metres));

    // The north arrow, top right.
    const QPointF tip(area.right() - Margin, area.top() + Margin);
    painter.setBrush(Qt::black);
    painter.drawPolygon(QPolygonF{tip, tip + QPointF(-6, 18), tip + QPointF(6, 18)});
    painter.drawText(QRectF(tip.x() - 10, tip.y() + 20, 20, 16), Qt::AlignCenter, QStringLiteral("N"));
}
