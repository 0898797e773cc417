#pragma once
// An indeterminate progress indicator: an arc that turns while the widget is visible.

#include <QColor>
#include <QTimer>
#include <QWidget>

class QPainter;

namespace vellumora::ui {

class BusySpinner : public QWidget {
    Q_OBJECT
  public:
    explicit BusySpinner(QWidget* parent = nullptr);

    void setColor(const QColor& color);
    // Diameter in pixels.
    void setDiameter(int diameter);
    QSize sizeHint() const override;

    // One frame of the spinner into `rect`; `turn` is the rotation in [0, 1).
    static void paintFrame(QPainter& painter, const QRectF& rect, const QColor& color, double turn);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QColor color_ = Qt::white;
    int diameter_ = 32;
    double turn_ = 0;
    QTimer timer_;
};

}  // namespace vellumora::ui
