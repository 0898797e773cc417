#pragma once
// The live side of the capture sheet, bottom to top: the camera picture, the page outline, the
// hold ring, the processing veil and the camera-denied cover.

#include <QWidget>

namespace vellumora {

class CameraController;
class CameraDeniedOverlay;
class CameraPreview;
class HoldRing;
class ProcessingVeil;
class QuadOverlay;

class CameraLivePane : public QWidget {
    Q_OBJECT

  public:
    explicit CameraLivePane(CameraController* controller, QWidget* parent = nullptr);

    QuadOverlay* quadOverlay() const { return m_quadOverlay; }
    HoldRing* holdRing() const { return m_holdRing; }
    ProcessingVeil* processingVeil() const { return m_veil; }
    CameraDeniedOverlay* deniedOverlay() const { return m_denied; }

    QSize minimumSizeHint() const override { return {640, 480}; }
    QSize sizeHint() const override { return {800, 600}; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    CameraPreview* m_preview;
    QuadOverlay* m_quadOverlay;
    HoldRing* m_holdRing;
    ProcessingVeil* m_veil;
    CameraDeniedOverlay* m_denied;
};

}  // namespace vellumora
