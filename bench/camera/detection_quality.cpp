// Detection quality on a generated set of camera pictures with known corners: mean polygon IoU
// and the share of pictures at IoU >= 0.95, for the page detector (document detector, then the
// rectangle fallback), the rectangle fallback alone, and the still path (subject isolation first).
//
// Usage: camera_detection_quality [COUNT] [--width W --height H] [--save DIR] [--verbose]
// With --save every picture is written as DIR/scene-NNN.png beside DIR/truth.jsonl.

#include "scan/page_detector.h"
#include "scan/sketch_scanner.h"
#include "support/synthetic_scene.h"

#include <opencv2/imgproc.hpp>

#include <QImage>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

using namespace vellumora;

namespace {

struct Tally {
    const char* name;
    double sum = 0;
    int good = 0;
    int found = 0;
    int count = 0;

    void add(const std::optional<Quad>& quad, const std::array<cv::Point2d, 4>& truth, bool verbose) {
        ++count;
        if (!quad) {
            if (verbose) {
                std::printf("  %s: picture %d: no page\n", name, count - 1);
            }
            return;
        }
        ++found;
        const scan::Corners c = scan::toCorners(*quad);
        const double iou = synthetic::polygonIoU({c[0], c[1], c[2], c[3]}, truth);
        sum += iou;
        good += iou >= 0.95 ? 1 : 0;
        if (verbose && iou < 0.95) {
            std::printf("  %s: picture %d: IoU %.3f\n", name, count - 1, iou);
        }
    }
    void print() const {
        std::printf("%-34s mean IoU %.4f  IoU>=0.95 %5.1f%%  found %d/%d\n", name, count ? sum / count : 0.0,
                    count ? 100.0 * good / count : 0.0, found, count);
    }
};

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    cv::Size frame(1280, 720);
    std::string save;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--width") && i + 1 < argc) {
            frame.width = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--height") && i + 1 < argc) {
            frame.height = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--verbose")) {
            verbose = true;
        } else if (!std::strcmp(argv[i], "--save") && i + 1 < argc) {
            save = argv[++i];
        } else {
            count = std::atoi(argv[i]);
        }
    }
    std::ofstream truth;
    if (!save.empty()) {
        truth.open(save + "/truth.jsonl");
    }
    Tally page{"detector (document, then rectangle)"};
    Tally rectangle{"rectangle fallback alone"};
    Tally still{"still path (subject isolation)"};
    for (int i = 0; i < count; ++i) {
        const auto scene = synthetic::renderScene(synthetic::variedParameters(i, frame));
        page.add(scan::detectPage(scene.image, scan::kPreviewWorkingSide), scene.corners, verbose);
        rectangle.add(
            scan::detectPage(scene.image, scan::kPreviewWorkingSide, scan::PageDetectors::rectangleOnly),
            scene.corners, verbose);
        still.add(LineArtExtractor::detectDocument(scene.image), scene.corners, verbose);
        if (!save.empty()) {
            char name[64];
            std::snprintf(name, sizeof name, "scene-%03d.png", i);
            cv::Mat rgb;
            cv::cvtColor(scene.image, rgb, cv::COLOR_BGR2RGB);
            QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888)
                .save(QString::fromStdString(save + "/" + name));
            truth << "{\"image\": \"" << name << "\", \"corners\": [";
            for (int k = 0; k < 4; ++k) {
                truth << (k ? ", " : "") << "[" << scene.corners[k].x << ", " << scene.corners[k].y << "]";
            }
            truth << "]}\n";
        }
    }
    std::printf("%d pictures of %dx%d\n", count, frame.width, frame.height);
    page.print();
    rectangle.print();
    still.print();
    return 0;
}
