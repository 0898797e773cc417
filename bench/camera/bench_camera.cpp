// Speed of the camera scan: analysis of one live preview frame (the page detector on a
// 1280 x 720 frame, which must keep up with 30 frames per second) and extraction of a
// 4032 x 3024 still to PNG, whole and by stage.

#include "camera/camera_controller.h"
#include "lineart/line_art_extractor.h"
#include "scan/image_matrix.h"
#include "scan/sketch_scanner.h"
#include "scenes/synthetic_scene.h"

#include <opencv2/imgproc.hpp>

#include <QImage>

#include <benchmark/benchmark.h>

using namespace vellumora;

namespace {

QImage photo(cv::Size size, bool shadow) {
    synthetic::SceneParameters p;
    p.frame = size;
    p.background = synthetic::Background::wood;
    p.pageHeight = 0.85;
    p.rotation = 5;
    p.perspective = 0.03;
    p.lightGradient = 0.3;
    p.shadow = shadow;
    p.seed = 21;
    const cv::Mat bgr = synthetic::renderScene(p).image;
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    // A camera frame arrives as 32-bit pixels.
    return scan::imageFromBgra(bgra).convertToFormat(QImage::Format_RGB32);
}

const QImage& previewFrame() {
    static const QImage frame = photo({1280, 720}, false);
    return frame;
}

const QImage& still() {
    static const QImage image = photo({4032, 3024}, true);
    return image;
}

void BM_AnalysePreviewFrame1280x720(benchmark::State& state) {
    previewFrame();  // generating the picture is not part of the measurement
    for (auto _ : state) {
        benchmark::DoNotOptimize(CameraController::detectPageInFrame(previewFrame()));
    }
}
BENCHMARK(BM_AnalysePreviewFrame1280x720)->Unit(benchmark::kMillisecond);

void BM_ExtractStill4032x3024(benchmark::State& state) {
    still();
    for (auto _ : state) {
        benchmark::DoNotOptimize(LineArtExtractor::extractHighQuality(still()));
    }
}
BENCHMARK(BM_ExtractStill4032x3024)->Unit(benchmark::kMillisecond);

void BM_StillStage_DetectDocument(benchmark::State& state) {
    QImage holder;
    const cv::Mat image = scan::bgraView(still(), holder);
    for (auto _ : state) {
        benchmark::DoNotOptimize(LineArtExtractor::detectDocument(image));
    }
}
BENCHMARK(BM_StillStage_DetectDocument)->Unit(benchmark::kMillisecond);

void BM_StillStage_PerspectiveAndLines(benchmark::State& state) {
    QImage holder;
    const cv::Mat image = scan::bgraView(still(), holder);
    const auto quad = LineArtExtractor::detectDocument(image);
    for (auto _ : state) {
        const cv::Mat page =
            LineArtExtractor::perspectiveCorrected(image, *quad, LineArtExtractor::kMaxPageSide);
        benchmark::DoNotOptimize(LineArtExtractor::lineOverlayPipeline(page));
    }
}
BENCHMARK(BM_StillStage_PerspectiveAndLines)->Unit(benchmark::kMillisecond);

void BM_StillStage_Png(benchmark::State& state) {
    QImage holder;
    const cv::Mat image = scan::bgraView(still(), holder);
    const auto quad = LineArtExtractor::detectDocument(image);
    const QImage lines = LineArtExtractor::lineOverlayPipeline(
        LineArtExtractor::perspectiveCorrected(image, *quad, LineArtExtractor::kMaxPageSide));
    for (auto _ : state) {
        benchmark::DoNotOptimize(LineArtExtractor::pngData(lines));
    }
}
BENCHMARK(BM_StillStage_Png)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
