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

    QuadOverlay* quadOverlay() const { return quadOverlay_; }
    HoldRing* holdRing() const { return holdRing_; }
    ProcessingVeil* processingVeil() const { return veil_; }
    CameraDeniedOverlay* deniedOverlay() const { return denied_; }

    QSize minimumSizeHint() const override { return {640, 480}; }
    QSize sizeHint() const override { return {800, 600}; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    CameraPreview* preview_;
    QuadOverlay* quadOverlay_;
    HoldRing* holdRing_;
    ProcessingVeil* veil_;
    CameraDeniedOverlay* denied_;
};

}  // namespace vellumora
