#pragma once
// The countdown ring in the middle of the live picture while the page is held still: an arc
// that grows clockwise from the top around a camera symbol. It fades in and out.

#include <QVariantAnimation>
#include <QWidget>

namespace vellumora {

class HoldRing : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kSide = 72;

    explicit HoldRing(QWidget* parent = nullptr);

    // 0 hides the ring (fading out); above 0 shows it with that share of the circle.
    void setProgress(double progress);
    double progress() const { return target_; }

    QSize sizeHint() const override { return {kSide, kSide}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double target_ = 0.0;
    double shown_ = 0.0;
    QVariantAnimation arc_;
    QVariantAnimation fade_;
};

}  // namespace vellumora
