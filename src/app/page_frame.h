#pragma once
// Lays its content on the desk like a square sheet of paper: the largest square that fits with
// a margin, centred, with slightly rounded corners, a faint warm edge and two soft shadows
// beneath.

#include <QImage>
#include <QPointer>
#include <QWidget>

namespace vellumora {

class PageFrame : public QWidget {
    Q_OBJECT
  public:
    // Takes ownership of `content`.
    explicit PageFrame(QWidget* content, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void reshape();
    void placeContent();

    QPointer<QWidget> content_;
    QWidget* edge_;
    QImage shadow_;
};

// The two shadows of a page whose rectangle is `page`, drawn into an image of `size`: black
// whose alpha is each Gaussian-blurred rectangle, the stronger blur laid over the weaker one.
QImage pageShadow(QSize size, QRect page, qreal devicePixelRatio);

// The square sheet in a frame of `size`, `margin` clear of each edge where there is room.
QRect squarePage(QSize size, int margin);

}  // namespace vellumora
