#include "camera/views/capture_review_pane.h"

#include <QPainter>

namespace vellumora {

namespace {

constexpr int kInset = 24;
const QColor kPaper = QColor::fromRgbF(0.985f, 0.96f, 0.91f);

}  // namespace

CaptureReviewPane::CaptureReviewPane(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CaptureReviewPane::setImage(const QImage& image) {
    image_ = image;
    update();
}

void CaptureReviewPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kPaper);
    if (image_.isNull()) {
        return;
    }
    const QRectF area = QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset);
    const QSizeF shown = QSizeF(image_.size()).scaled(area.size(), Qt::KeepAspectRatio);
    const QRectF target(area.center() - QPointF(shown.width() / 2, shown.height() / 2), shown);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_);
}

}  // namespace vellumora
