#include "camera/views/camera_live_pane.h"

#include "camera/views/camera_denied_overlay.h"
#include "camera/views/camera_preview.h"
#include "camera/views/hold_ring.h"
#include "camera/views/processing_veil.h"
#include "camera/views/quad_overlay.h"

namespace vellumora {

CameraLivePane::CameraLivePane(CameraController* controller, QWidget* parent)
    : QWidget(parent),
      preview_(new CameraPreview(controller, this)),
      quadOverlay_(new QuadOverlay(this)),
      holdRing_(new HoldRing(this)),
      veil_(new ProcessingVeil(this)),
      denied_(new CameraDeniedOverlay(this)) {
    setMinimumSize(640, 480);
    veil_->hide();
    denied_->hide();
}

void CameraLivePane::resizeEvent(QResizeEvent*) {
    for (QWidget* layer : {static_cast<QWidget*>(preview_), static_cast<QWidget*>(quadOverlay_),
                           static_cast<QWidget*>(veil_), static_cast<QWidget*>(denied_)}) {
        layer->setGeometry(rect());
    }
    QRect ring(QPoint(0, 0), holdRing_->size());
    ring.moveCenter(rect().center());
    holdRing_->setGeometry(ring);
}

}  // namespace vellumora
