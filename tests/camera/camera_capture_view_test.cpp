// The capture sheet and the camera controller it owns, fed by a frame source the test pushes
// frames into; without a camera the system's own source is used.

#include "camera/views/camera_capture_view.h"

#include "camera/views/camera_denied_overlay.h"
#include "scan/sketch_scanner.h"
#include "support/qt_test_app.h"
#include "support/scene_images.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QVideoFrameFormat>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>

namespace vellumora {
namespace {

using namespace std::chrono_literals;

class FakeFrameSource : public FrameSource {
  public:
    void start(std::function<void(bool)> done) override {
        ++starts;
        running = true;
        QTimer::singleShot(0, this, [done = std::move(done)] { done(true); });
    }
    void stop() override { running = false; }

    void push(const QImage& image) {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        QVideoFrame frame(
            QVideoFrameFormat(rgb.size(), QVideoFrameFormat::pixelFormatFromImageFormat(rgb.format())));
        frame.map(QVideoFrame::WriteOnly);
        for (int y = 0; y < rgb.height(); ++y) {
            std::memcpy(frame.bits(0) + y * frame.bytesPerLine(0), rgb.constScanLine(y),
                        size_t(rgb.width()) * 4);
        }
        frame.unmap();
        emit frameArrived(frame);
    }

    int starts = 0;
    bool running = false;
};

QImage stillPage() {
    return testing::sceneImage(testing::scene(synthetic::Background::cloth, -8, 0, 11));
}

struct CameraCaptureViewTest : ::testing::Test {
    FakeFrameSource* source = nullptr;
    CaptureFlow::TimePoint clock = CaptureFlow::TimePoint() + 100s;
    std::atomic<int> extractions{0};
    std::atomic<int> analysed{0};
    std::vector<double> scores;
    std::vector<QByteArray> captured;
    std::unique_ptr<CameraCaptureView> view;

    // Without a frame source the sheet opens the system's camera.
    void make(CameraCaptureView::Extractor extractor = &LineArtExtractor::extractHighQuality,
              CameraController::Detector detector = &CameraController::detectPageInFrame,
              std::unique_ptr<FakeFrameSource> frames = std::make_unique<FakeFrameSource>()) {
        source = frames.get();
        CameraCaptureView::Dependencies d;
        d.frameSource = std::move(frames);
        d.detector = [this, detector](const QImage& frame) {
            auto quad = detector(frame);
            ++analysed;
            return quad;
        };
        d.clock = [this] { return clock; };
        d.extractor = [this, extractor](const QImage& still) {
            ++extractions;
            return extractor(still);
        };
        view = std::make_unique<CameraCaptureView>([this](QByteArray png) { captured.push_back(png); },
                                                   std::move(d));
        QObject::connect(view->controller(), &CameraController::stabilityScoreChanged,
                         [this](double s) { scores.push_back(s); });
        view->show();
        ASSERT_TRUE(testing::runUntil(
            [&] { return view->controller()->isRunning() || view->flow().permissionDenied(); }));
    }

    // One camera frame `after` the last, analysed and, when it shows a page, its score handled.
    // A frame that arrives while the worker is still busy is skipped; then it goes again.
    void frame(const QImage& image, std::chrono::milliseconds after = 100ms, bool scored = true) {
        clock += after;
        const int before = analysed;
        const std::size_t scoresBefore = scores.size();
        do {
            source->push(image);
        } while (!testing::runUntil([&] { return analysed > before; }, 60s));
        if (scored) {
            testing::runUntil([&] { return scores.size() > scoresBefore; }, 5s);
        } else {
            testing::runFor(5ms);  // lets the posted results arrive
        }
    }

    QPushButton* button(const QString& name) const {
        for (auto* b : view->findChildren<QPushButton*>())
            if (b->accessibleName() == name) return b;
        return nullptr;
    }
};

// Detection itself is tested on its own; here a scripted detector drives the score and the
// loss, and one real frame shows the real detector finds the page in the frame it is handed.
TEST_F(CameraCaptureViewTest, analysesFramesOneAtATimeOnItsThreadAndPassesScoresAndLossOn) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::string thread;
    std::optional<std::optional<Quad>> scripted = Quad{{10, 10}, {110, 10}, {10, 150}, {110, 150}};
    make(&LineArtExtractor::extractHighQuality, [&](const QImage& frame) {
        thread = QThread::currentThread()->objectName().toStdString();
        released.wait();
        return scripted ? *scripted : CameraController::detectPageInFrame(frame);
    });
    QImage grey(320, 200, QImage::Format_RGB32);
    grey.fill(Qt::gray);
    source->push(grey);
    ASSERT_TRUE(testing::runUntil([&] { return !thread.empty(); }));
    // These arrive while the first is analysed: only the latest is kept, and not analysed.
    for (int i = 0; i < 5; ++i) source->push(grey);
    release.set_value();
    ASSERT_TRUE(testing::runUntil([&] { return analysed == 1; }));
    testing::runFor(20ms);
    EXPECT_EQ(analysed, 1);
    EXPECT_EQ(thread, "vellumora.camera");
    // The tracker's scores and its loss rule are tested on their own; here they reach the sheet.
    for (int i = 0; i < 3; ++i) frame(grey);
    EXPECT_GT(view->controller()->stabilityScore(), 0.8);
    EXPECT_EQ(view->flow().latestQuad(), *scripted);
    scripted = std::optional<Quad>();
    for (int i = 0; i < 6; ++i) frame(grey, 100ms, false);
    ASSERT_TRUE(testing::runUntil([&] { return !view->flow().latestQuad(); }));
    EXPECT_EQ(view->controller()->stabilityScore(), 0.0);

    scripted.reset();
    const auto cluttered = synthetic::renderScene(
        testing::scene(synthetic::Background::clutter, 12, 0.05, 7, cv::Size(960, 540)));
    frame(testing::toImage(cluttered.image));
    ASSERT_TRUE(testing::runUntil([&] { return view->flow().latestQuad().has_value(); }));
    EXPECT_GT(testing::iou(*view->flow().latestQuad(), cluttered), 0.95);
    EXPECT_EQ(view->controller()->lastImageSize(), QSize(960, 540));
    view.reset();  // the detector refers to this test's locals
}

TEST_F(CameraCaptureViewTest, capturesAfterAStillHoldOrOnReturnRetakesAndCtrlReturnHandsThePageBack) {
    make();
    for (auto* b : view->findChildren<QPushButton*>()) {
        EXPECT_FALSE(b->accessibleName().isEmpty());
        EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << b->text().toStdString();
    }
    const QImage page = stillPage();
    // Score from the fourth frame (300 ms) on: the hold begins there and ends at 1800 ms.
    for (int i = 0; i < 18; ++i) {
        frame(page);
        ASSERT_FALSE(view->flow().processing()) << "frame " << i;
    }
    EXPECT_TRUE(view->statusText().startsWith("Hold steady… capturing in 0.1s"))
        << view->statusText().toStdString();
    frame(page);
    EXPECT_TRUE(view->flow().processing());
    // The page is still held up while it is extracted.
    for (int i = 0; i < 5; ++i) frame(page);
    ASSERT_TRUE(testing::runUntil([&] { return view->flow().reviewing(); }));
    EXPECT_EQ(extractions, 1);
    EXPECT_FALSE(source->running) << "the camera stops for review";

    button("Retake")->click();
    ASSERT_TRUE(testing::runUntil([&] { return source->starts == 2; }));
    EXPECT_FALSE(view->flow().reviewing());
    EXPECT_TRUE(source->running);
    EXPECT_TRUE(button("Capture now")->isVisible());
    frame(page);
    QTest::keyClick(view.get(), Qt::Key_Return);
    ASSERT_TRUE(testing::runUntil([&] { return view->flow().reviewing(); }));
    EXPECT_EQ(extractions, 2);
    ASSERT_TRUE(view->flow().reviewPNG().has_value());
    QTest::keyClick(view.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0], *view->flow().reviewPNG());
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), QDialog::Accepted);
}

// Before the first frame there is nothing to capture; then the latest frame is extracted.
TEST_F(CameraCaptureViewTest, aFailedCaptureSaysSoAndPausesTheHold) {
    QImage still;
    make([&still](const QImage& frame) {
        still = frame;
        return std::optional<QByteArray>();
    });
    button("Capture now")->click();
    ASSERT_TRUE(testing::runUntil([&] { return !view->flow().processing(); }));
    EXPECT_EQ(view->statusText(), CaptureFlow::frameUnavailableText());
    EXPECT_EQ(extractions, 0);

    const QImage page = stillPage();
    frame(page.mirrored(true, false));
    frame(page);
    button("Capture now")->click();
    ASSERT_TRUE(testing::runUntil([&] { return !view->flow().processing(); }));
    EXPECT_EQ(still.convertToFormat(QImage::Format_RGB32), page.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(view->statusText(), "Scan processing failed. Adjust the lighting or angle and try again.");
    frame(page, 300ms);
    EXPECT_EQ(view->flow().holdProgress(), 0.0) << "no hold during the pause after a failure";
    view.reset();  // the extractor refers to this test's locals
}

TEST_F(CameraCaptureViewTest, anExtractionFinishingAfterTheSheetClosedIsDropped) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    make([released](const QImage& still) {
        released.wait();
        return LineArtExtractor::extractHighQuality(still);
    });
    frame(stillPage());
    view->capture();
    ASSERT_TRUE(testing::runUntil([&] { return extractions == 1; }));
    button("Cancel")->click();
    EXPECT_FALSE(source->running) << "closing releases the camera";
    release.set_value();
    QThreadPool::globalInstance()->waitForDone();  // the extraction has posted its result
    QCoreApplication::processEvents();
    EXPECT_TRUE(captured.empty());
    EXPECT_FALSE(view->flow().reviewing());
    view.reset();  // and nothing touches the sheet once it is gone
    testing::runFor(50ms);
}

TEST_F(CameraCaptureViewTest, withoutACameraOnlyCancelHelps) {
    if (!QMediaDevices::videoInputs().isEmpty()) GTEST_SKIP() << "this machine has a camera";
    make(&LineArtExtractor::extractHighQuality, &CameraController::detectPageInFrame, nullptr);
    EXPECT_EQ(view->statusText(), "Camera disabled");
    EXPECT_TRUE(view->findChild<CameraDeniedOverlay*>()->isVisible());
    EXPECT_FALSE(button("Capture now")->isEnabled());
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(extractions, 0);
    button("Cancel")->click();
    EXPECT_EQ(view->result(), QDialog::Rejected);
}

}  // namespace
}  // namespace vellumora
