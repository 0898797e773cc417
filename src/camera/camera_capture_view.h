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

    const CaptureFlow& flow() const { return m_flow; }
    CameraController* controller() const { return m_controller.get(); }
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
    CaptureFlow::TimePoint now() const { return m_clock(); }

    std::function<void(QByteArray)> m_onCaptured;
    std::function<CaptureFlow::TimePoint()> m_clock;
    Extractor m_extractor;
    std::unique_ptr<CameraController> m_controller;
    CaptureFlow m_flow;
    bool m_cameraStarted = false;
    int m_generation = 0;  // bumped when a pending extraction must no longer count

    QStackedWidget* m_panes;
    CameraLivePane* m_live;
    CaptureReviewPane* m_review;
    QLabel* m_status;
    QPushButton* m_cancel;
    QPushButton* m_captureNow;
    QPushButton* m_retake;
    QPushButton* m_usePage;
};

}  // namespace vellumora
