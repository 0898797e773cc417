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
    QColor m_color = Qt::white;
    int m_diameter = 32;
    double m_turn = 0;
    QTimer m_timer;
};

}  // namespace vellumora::ui
