#include "camera/camera_live_pane.h"

#include "camera/camera_denied_overlay.h"
#include "camera/camera_preview.h"
#include "camera/hold_ring.h"
#include "camera/processing_veil.h"
#include "camera/quad_overlay.h"

namespace vellumora {

CameraLivePane::CameraLivePane(CameraController* controller, QWidget* parent)
    : QWidget(parent),
      m_preview(new CameraPreview(controller, this)),
      m_quadOverlay(new QuadOverlay(this)),
      m_holdRing(new HoldRing(this)),
      m_veil(new ProcessingVeil(this)),
      m_denied(new CameraDeniedOverlay(this)) {
    setMinimumSize(640, 480);
    m_veil->hide();
    m_denied->hide();
}

void CameraLivePane::resizeEvent(QResizeEvent*) {
    for (QWidget* layer : {static_cast<QWidget*>(m_preview), static_cast<QWidget*>(m_quadOverlay),
                           static_cast<QWidget*>(m_veil), static_cast<QWidget*>(m_denied)}) {
        layer->setGeometry(rect());
    }
    QRect ring(QPoint(0, 0), m_holdRing->size());
    ring.moveCenter(rect().center());
    m_holdRing->setGeometry(ring);
}

}  // namespace vellumora
