#ifndef GPSA_TRACKVIEW_H
#define GPSA_TRACKVIEW_H

#include <QImage>
#include <QWidget>

class PositionsModel;

// Each device's track drawn as a line through its valid positions with a dot at each, fitted to
// the view, with a scale bar, a north arrow and the newest position ringed; no map beneath, so
// that it works offline. Redrawn as the model's rows change.
class TrackView final : public QWidget
{
    Q_OBJECT

public:
    explicit TrackView(const PositionsModel &model, QWidget *parent = nullptr);

    // The view's drawing at the given size, on a white ground.
    [[nodiscard]] QImage image(QSize size) const;

    [[nodiscard]] QSize sizeHint() const override { return {480, 480}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paint(QPainter &painter, const QRect &area) const;

    const PositionsModel &m_model;
};

#endif
