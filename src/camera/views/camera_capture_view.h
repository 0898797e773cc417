#pragma once
// The sheet in which a user scans a hand-drawn sketch: the live picture with the page outlined,
// an automatic capture once the page has been held still (or Capture now / Return), the line
// art for review, and the accepted page handed to `onCaptured` as PNG bytes. It owns its camera
// controller and releases the camera when it closes. Extraction runs on a worker thread.

#include "camera/camera_controller.h"
#include "camera/capture_flow.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace vellumora {

class CameraLivePane;
class CaptureReviewPane;

class CameraCaptureView : public QDialog {
    Q_OBJECT

  public:
    using Extractor = std::function<std::optional<QByteArray>(const QImage& still)>;

    // What the sheet runs on; every empty member takes the real one (the system camera, the page
    // detector, the steady clock, the line-art extractor).
    struct Dependencies {
        std::unique_ptr<FrameSource> frameSource;
        CameraController::Detector detector;
        std::function<CaptureFlow::TimePoint()> clock;
        Extractor extractor;
    };

    explicit CameraCaptureView(std::function<void(QByteArray png)> onCaptured, QWidget* parent = nullptr);
    CameraCaptureView(std::function<void(QByteArray png)> onCaptured, Dependencies dependencies,
                      QWidget* parent = nullptr);
    ~CameraCaptureView() override;

    // Starts one capture unless one is under way.
    void capture();

    const CaptureFlow& flow() const { return flow_; }
    CameraController* controller() const { return controller_.get(); }
    QString statusText() const;

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void startCamera();
    void onStabilityScore(double score);
    void finishCapture(int generation, const std::optional<QByteArray>& png, const QImage& decoded);
    void retake();
    void usePage();
    void refresh();
    CaptureFlow::TimePoint now() const { return clock_(); }

    std::function<void(QByteArray)> onCaptured_;
    std::function<CaptureFlow::TimePoint()> clock_;
    Extractor extractor_;
    std::unique_ptr<CameraController> controller_;
    CaptureFlow flow_;
    bool cameraStarted_ = false;
    int generation_ = 0;  // bumped when a pending extraction must no longer count

    QStackedWidget* panes_;
    CameraLivePane* live_;
    CaptureReviewPane* review_;
    QLabel* status_;
    QPushButton* cancel_;
    QPushButton* captureNow_;
    QPushButton* retake_;
    QPushButton* usePage_;
};

}  // namespace vellumora
