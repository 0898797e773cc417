#pragma once
// The scanned page for review: the line art on paper colour, so its transparent background
// reads as the page it will be.

#include <QImage>
#include <QWidget>

namespace vellumora {

class CaptureReviewPane : public QWidget {
    Q_OBJECT

  public:
    explicit CaptureReviewPane(QWidget* parent = nullptr);

    void setImage(const QImage& image);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
};

}  // namespace vellumora
