#include "camera/views/camera_preview.h"

#include "camera/camera_controller.h"

#include <QPainter>
#include <QVideoFrameFormat>

namespace vellumora {

CameraPreview::CameraPreview(CameraController* controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(controller, &CameraController::frameChanged, this, qOverload<>(&QWidget::update));
}

void CameraPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!controller_) {
        return;
    }
    QVideoFrame frame = controller_->latestFrame();
    if (!frame.isValid() || frame.width() <= 0 || frame.height() <= 0) {
        return;
    }
    QSizeF shown = QSizeF(frame.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
    // RGB frames are drawn straight from their memory; Qt's own frame painting, needed for
    // YUV, may set up a GPU context for the conversion.
    const QImage::Format format = QVideoFrameFormat::imageFormatFromPixelFormat(frame.pixelFormat());
    if (format != QImage::Format_Invalid && frame.map(QVideoFrame::ReadOnly)) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(
            target, QImage(frame.bits(0), frame.width(), frame.height(), frame.bytesPerLine(0), format));
        frame.unmap();
        return;
    }
    frame.paint(&painter, target, QVideoFrame::PaintOptions{});
}

}  // namespace vellumora
