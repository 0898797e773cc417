#include "camera/camera_controller.h"

#include "fake_frame_source.h"
#include "scene_images.h"
#include "support/qt_test_app.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vellumora {
namespace {

using testing::FakeFrameSource;
constexpr auto detectPageInFrame = &CameraController::detectPageInFrame;
using namespace std::chrono_literals;

synthetic::SceneParameters clutteredScene() {
    synthetic::SceneParameters p;
    p.frame = cv::Size(960, 540);
    p.background = synthetic::Background::clutter;
    p.rotation = 12;
    p.perspective = 0.05;
    p.seed = 7;
    return p;
}

struct CameraControllerTest : ::testing::Test {
    testing::TestAppScope app;
    FakeFrameSource* source = nullptr;
    std::unique_ptr<CameraController> controller;
    std::atomic<int> analysed{0};
    std::vector<Quad> detected;
    int lost = 0;
    std::vector<double> scores;

    void make(CameraController::Detector detector = detectPageInFrame) {
        auto fake = std::make_unique<FakeFrameSource>();
        source = fake.get();
        controller =
            std::make_unique<CameraController>(std::move(fake), [this, detector](const QImage& frame) {
                auto quad = detector(frame);
                ++analysed;
                return quad;
            });
        controller->onQuadDetected = [this](const Quad& q) { detected.push_back(q); };
        controller->onQuadLost = [this] { ++lost; };
        QObject::connect(controller.get(), &CameraController::stabilityScoreChanged,
                         [this](double s) { scores.push_back(s); });
    }

    // Delivers the image and waits until the worker has analysed it. A frame that arrives in the
    // instant the worker is still finishing the last one is skipped; then it goes again.
    void analyse(const QImage& image) {
        const int before = analysed;
        do {
            source->push(image);
        } while (!testing::runUntil([&] { return analysed > before; }, 60s));
        testing::runFor(5ms);  // lets the posted results arrive
    }
};

// Detection itself is tested on its own; here a scripted detector drives the score and the
// loss, and one real frame shows the real detector is what runs by default.
TEST_F(CameraControllerTest, scoresWhatItsDetectorFindsAndReportsThePageLostFromTheSixthFrameWithout) {
    std::optional<std::optional<Quad>> scripted;
    make([&](const QImage& frame) { return scripted ? *scripted : detectPageInFrame(frame); });
    QImage frame(320, 200, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    scripted = Quad{{10, 10}, {110, 10}, {10, 150}, {110, 150}};
    for (int i = 0; i < 4; ++i) analyse(frame);
    ASSERT_TRUE(testing::runUntil([&] { return scores.size() == 4; }));
    EXPECT_EQ(scores[2], 0.0) << "three outlines are too few to judge";
    EXPECT_GT(scores[3], 0.8);
    scripted = Quad{{60, 10}, {160, 10}, {60, 150}, {160, 150}};
    analyse(frame);
    ASSERT_TRUE(testing::runUntil([&] { return scores.size() == 5; }));
    EXPECT_LT(scores[4], 0.2);
    EXPECT_EQ(detected.size(), 5u);

    scripted = std::optional<Quad>();
    for (int i = 0; i < 5; ++i) analyse(frame);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(controller->stabilityScore(), scores[4]) << "the score stays until the page is lost";
    analyse(frame);
    ASSERT_TRUE(testing::runUntil([&] { return lost == 1; }));
    EXPECT_EQ(controller->stabilityScore(), 0.0);
    analyse(frame);
    ASSERT_TRUE(testing::runUntil([&] { return lost == 2; }));

    scripted.reset();
    const auto scene = synthetic::renderScene(clutteredScene());
    analyse(testing::toImage(scene.image));
    ASSERT_TRUE(testing::runUntil([&] { return detected.size() == 6; }));
    EXPECT_GT(testing::iou(detected.back(), scene.corners), 0.95);
    EXPECT_EQ(controller->lastImageSize(), QSize(960, 540));
    controller.reset();  // the detector refers to this test's locals
}

TEST_F(CameraControllerTest, analysesOneFrameAtATimeOnItsOwnThread) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::string thread;
    make([&](const QImage&) -> std::optional<Quad> {
        thread = QThread::currentThread()->objectName().toStdString();
        released.wait();
        return std::nullopt;
    });
    const QImage frame = testing::sceneImage(clutteredScene());
    source->push(frame);
    ASSERT_TRUE(testing::runUntil([&] { return !thread.empty(); }));
    // These arrive while the first is analysed: only the latest is kept.
    for (int i = 0; i < 5; ++i) source->push(frame);
    release.set_value();
    ASSERT_TRUE(testing::runUntil([&] { return analysed == 1; }));
    testing::runFor(20ms);
    EXPECT_EQ(analysed, 1);
    EXPECT_EQ(thread, "vellumora.camera");
    analyse(frame);
    EXPECT_EQ(analysed, 2);
    controller.reset();  // the detector refers to this test's locals
}

TEST_F(CameraControllerTest, capturesTheLatestFrameOrNothingBeforeTheFirst) {
    make();
    std::optional<std::optional<QImage>> got;
    controller->captureFrame([&](std::optional<QImage> image) { got = std::move(image); });
    ASSERT_TRUE(testing::runUntil([&] { return got.has_value(); }));
    EXPECT_FALSE(got->has_value());

    QImage first(320, 200, QImage::Format_RGB32), second(320, 200, QImage::Format_RGB32);
    first.fill(Qt::red);
    second.fill(Qt::blue);
    analyse(first);
    analyse(second);
    got.reset();
    controller->captureFrame([&](std::optional<QImage> image) { got = std::move(image); });
    ASSERT_TRUE(testing::runUntil([&] { return got.has_value(); }));
    ASSERT_TRUE(got->has_value());
    EXPECT_EQ((*got)->size(), QSize(320, 200));
    EXPECT_EQ(QColor((*got)->pixel(10, 10)), QColor(Qt::blue));
}

TEST(CameraControllerSystemTest, withoutACameraTheSystemSourceReportsNoCamera) {
    testing::TestAppScope app;
    if (!QMediaDevices::videoInputs().isEmpty()) GTEST_SKIP() << "this machine has a camera";
    CameraController controller;
    std::optional<bool> result;
    controller.start([&](bool running) { result = running; });
    ASSERT_TRUE(testing::runUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
}

}  // namespace
}  // namespace vellumora
