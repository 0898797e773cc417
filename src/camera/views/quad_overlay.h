#pragma once
// The page's outline drawn over the live picture: yellow while the page is merely found, green
// while the hold-still countdown runs, fading between the two.

#include "scan/quad.h"

#include <QPolygonF>
#include <QVariantAnimation>
#include <QWidget>

#include <optional>

namespace vellumora {

class QuadOverlay : public QWidget {
    Q_OBJECT

  public:
    explicit QuadOverlay(QWidget* parent = nullptr);

    void setQuad(const std::optional<Quad>& quad);
    void setImageSize(QSize imageSize);
    void setHighlighted(bool highlighted);

    // Where the quad (image pixels) lies on a view showing the whole image aspect-fit and
    // centred; empty for an image without size.
    static QPolygonF mapToView(const Quad& quad, QSizeF imageSize, QSizeF viewSize);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<Quad> quad_;
    QSize imageSize_;
    bool highlighted_ = false;
    QVariantAnimation highlight_;  // 0 plain ... 1 highlighted
};

}  // namespace vellumora
