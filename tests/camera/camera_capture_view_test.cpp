#include "camera/camera_capture_view.h"

#include "camera/camera_denied_overlay.h"
#include "camera/camera_live_pane.h"
#include "camera/sketch_scanner.h"
#include "fake_frame_source.h"
#include "scene_images.h"
#include "support/qt_test_app.h"

#include <QPushButton>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vellumora {
namespace {

using testing::FakeFrameSource;
using namespace std::chrono_literals;

QImage stillPage() {
    synthetic::SceneParameters p;
    p.frame = cv::Size(640, 360);
    p.background = synthetic::Background::cloth;
    p.rotation = -8;
    p.seed = 11;
    return testing::sceneImage(p);
}

struct CameraCaptureViewTest : ::testing::Test {
    testing::TestAppScope app;
    FakeFrameSource* source = nullptr;
    CaptureFlow::TimePoint clock = CaptureFlow::TimePoint() + 100s;
    std::atomic<int> extractions{0};
    std::atomic<int> analysed{0};
    int scores = 0;
    std::vector<QByteArray> captured;
    std::unique_ptr<CameraCaptureView> view;

    void make(bool cameraStarts = true,
              CameraCaptureView::Extractor extractor = &LineArtExtractor::extractHighQuality) {
        auto fake = std::make_unique<FakeFrameSource>(cameraStarts);
        source = fake.get();
        CameraCaptureView::Dependencies d;
        d.frameSource = std::move(fake);
        d.detector = [this](const QImage& frame) {
            auto quad = CameraController::detectPageInFrame(frame);
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
        QObject::connect(view->controller(), &CameraController::stabilityScoreChanged, [this] { ++scores; });
        view->show();
        ASSERT_TRUE(testing::runUntil(
            [&] { return view->controller()->isRunning() || view->flow().permissionDenied(); }));
    }

    // One camera frame `after` the last, analysed and its score handled.
    void frame(const QImage& image, std::chrono::milliseconds after = 100ms) {
        clock += after;
        const int before = analysed, scoresBefore = scores;
        do {
            source->push(image);
        } while (!testing::runUntil([&] { return analysed > before; }, 60s));
        testing::runUntil([&] { return scores > scoresBefore; }, 5s);
    }

    QPushButton* button(const QString& name) const {
        for (auto* b : view->findChildren<QPushButton*>())
            if (b->accessibleName() == name) return b;
        return nullptr;
    }
};

TEST_F(CameraCaptureViewTest, capturesOnceAfterThePageWasHeldStillForOneAndAHalfSeconds) {
    make();
    const QImage page = stillPage();
    // Score from the fourth frame (300 ms) on: the hold begins there and ends at 1800 ms.
    for (int i = 0; i < 18; ++i) {
        frame(page);
        ASSERT_FALSE(view->flow().processing()) << "frame " << i;
    }
    EXPECT_GT(view->flow().holdProgress(), 0.9);
    EXPECT_TRUE(view->statusText().startsWith("Hold steady… capturing in 0.1s"))
        << view->statusText().toStdString();
    frame(page);
    EXPECT_TRUE(view->flow().processing());
    EXPECT_EQ(view->statusText(), "Enhancing scan…");
    // The page is still held up while it is extracted.
    for (int i = 0; i < 5; ++i) frame(page);
    ASSERT_TRUE(testing::runUntil([&] { return view->flow().reviewing(); }));
    EXPECT_EQ(extractions, 1);
    EXPECT_FALSE(source->running) << "the camera stops for review";
    EXPECT_EQ(view->statusText(), "Looks good? Pick Use this page or Retake.");
}

TEST_F(CameraCaptureViewTest, ReturnCapturesRetakeStartsAgainAndCtrlReturnHandsThePageBack) {
    make();
    for (auto* b : view->findChildren<QPushButton*>()) {
        EXPECT_FALSE(b->accessibleName().isEmpty());
        EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << b->text().toStdString();
    }
    frame(stillPage());
    QTest::keyClick(view.get(), Qt::Key_Return);
    ASSERT_TRUE(testing::runUntil([&] { return view->flow().reviewing(); }));
    button("Retake")->click();
    ASSERT_TRUE(testing::runUntil([&] { return source->starts == 2; }));
    EXPECT_FALSE(view->flow().reviewing());
    EXPECT_TRUE(source->running);
    EXPECT_TRUE(button("Capture now")->isVisible());

    frame(stillPage());
    QTest::keyClick(view.get(), Qt::Key_Return);
    ASSERT_TRUE(testing::runUntil([&] { return view->flow().reviewing(); }));
    ASSERT_TRUE(view->flow().reviewPNG().has_value());
    EXPECT_FALSE(QImage::fromData(*view->flow().reviewPNG(), "PNG").isNull());
    QTest::keyClick(view.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0], *view->flow().reviewPNG());
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), QDialog::Accepted);
}

TEST_F(CameraCaptureViewTest, aFailedExtractionSaysSoAndPausesAutoCapture) {
    make(true, [](const QImage&) { return std::optional<QByteArray>(); });
    const QImage page = stillPage();
    frame(page);
    button("Capture now")->click();
    ASSERT_TRUE(testing::runUntil([&] { return !view->flow().processing(); }));
    EXPECT_EQ(view->statusText(), "Scan processing failed. Adjust the lighting or angle and try again.");
    // 2.7 s of a still page inside the pause: enough to capture without it.
    for (int i = 0; i < 9; ++i) frame(page, 300ms);
    EXPECT_EQ(extractions, 1);
    EXPECT_EQ(view->flow().holdProgress(), 0.0);
}

TEST_F(CameraCaptureViewTest, anExtractionFinishingAfterTheSheetClosedIsDropped) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    make(true, [released](const QImage& still) {
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
    make(false);
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
