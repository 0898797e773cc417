// Detection quality on the generated evaluation sets, one per kind of failure: for the live
// preview's analysis of 1280 x 720 frames and for the still path on larger pictures, the polygon
// IoU of the found page with the true sheet (as far as the frame shows it) and the ink kept, the
// share of the drawing inside the page the extraction would cut out (the whole picture when no
// page is found).
//
// Usage: camera_detection_quality [--count N] [--seed-base S] [--kind NAME] [--index I]
//                                 [--no-still] [--save DIR] [--verbose] [--corners]
// --seed-base picks another set of the same kinds (0 is the committed one); --index measures only
// the picture of that number in each set. --corners prints the corners found on every picture,
// one line each, to compare two builds' detections. With --save, every
// picture whose IoU is below 0.95 or whose ink kept is below 99 % is written as DIR/KIND-NNN.png,
// with its true corners in DIR/truth.jsonl.

#include "camera/camera_controller.h"
#include "scan/image_matrix.h"
#include "scan/quad_geometry.h"
#include "scan/sketch_scanner.h"
#include "scenes/synthetic_scene.h"

#include <opencv2/imgproc.hpp>

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

using namespace vellumora;

namespace {

struct Tally {
    double iouSum = 0, iouMin = 1, inkSum = 0, inkMin = 1;
    int good = 0, found = 0, count = 0;

    void add(double iou, double ink, bool wasFound) {
        ++count;
        found += wasFound ? 1 : 0;
        iouSum += iou;
        iouMin = std::min(iouMin, iou);
        inkSum += ink;
        inkMin = std::min(inkMin, ink);
        good += iou >= 0.95 ? 1 : 0;
    }
    void print(const char* kind, const char* path) const {
        if (count == 0) {
            return;
        }
        std::printf("%-15s %-8s IoU mean %.4f min %.3f >=0.95 %5.1f%%  ink kept mean %6.2f%% min %6.2f%%  found %d/%d\n",
                    kind, path, iouSum / count, iouMin, 100.0 * good / count, 100.0 * inkSum / count,
                    100.0 * inkMin, found, count);
    }
};

synthetic::Corners cornersOf(const std::optional<Quad>& quad, cv::Size frame) {
    if (!quad) {
        return {cv::Point2d(0, 0), cv::Point2d(frame.width, 0), cv::Point2d(frame.width, frame.height),
                cv::Point2d(0, frame.height)};
    }
    const scan::Corners c = scan::toCorners(*quad);
    return {c[0], c[1], c[2], c[3]};
}

QImage frameImage(const cv::Mat& bgr) {
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    return scan::imageFromBgra(bgra).convertToFormat(QImage::Format_RGB32);  // as a camera delivers it
}

struct Options {
    int count = 40;
    std::uint32_t seedBase = 0;
    std::string kind;
    int index = -1;
    bool still = true;
    std::string save;
    bool verbose = false;
    bool corners = false;
};

class Evaluation {
  public:
    explicit Evaluation(const Options& options) : options_(options) {
        if (!options.save.empty()) {
            truth_.open(options.save + "/truth.jsonl");
        }
    }

    // One picture on one path: the outline found, or the whole frame when there is none.
    void measure(Tally& tally, synthetic::Kind kind, int index, const char* path, const synthetic::Scene& scene,
                 const std::optional<Quad>& quad, bool noneIsWholeFrame) {
        const cv::Size frame = scene.image.size();
        const synthetic::Corners outline = cornersOf(quad, frame);
        const bool usable = quad || noneIsWholeFrame;
        const double iou = usable ? synthetic::pageIoU(outline, scene.corners, frame) : 0.0;
        const double ink = usable ? synthetic::inkKept(outline, scene.ink) : 0.0;
        tally.add(iou, ink, quad.has_value());
        if (options_.corners) {
            std::printf("corners %s %s %03d", synthetic::kindName(kind), path, index);
            if (quad) {
                for (const cv::Point2d& p : scan::toCorners(*quad)) std::printf(" %.6f %.6f", p.x, p.y);
            } else {
                std::printf(" none");
            }
            std::printf("\n");
        }
        // One picture asked for by its index is written whatever its score.
        if (iou >= 0.95 && ink >= 0.99 && options_.index < 0) {
            return;
        }
        char name[96];
        std::snprintf(name, sizeof name, "%s-%s-%03d", synthetic::kindName(kind), path, index);
        for (char* c = name; *c; ++c) *c = *c == ' ' ? '_' : *c;
        if (options_.verbose) {
            std::printf("  %s: IoU %.3f ink kept %.2f%%%s\n", name, iou, 100 * ink, quad ? "" : " (no page)");
        }
        if (!options_.save.empty()) {
            frameImage(scene.image).save(QString::fromStdString(options_.save + "/" + name + ".png"));
            truth_ << "{\"image\": \"" << name << ".png\", \"corners\": [";
            for (int k = 0; k < 4; ++k) {
                truth_ << (k ? ", " : "") << "[" << scene.corners[k].x << ", " << scene.corners[k].y << "]";
            }
            truth_ << "]}\n";
        }
    }

  private:
    const Options& options_;
    std::ofstream truth_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--count") && more) {
            options.count = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--seed-base") && more) {
            options.seedBase = std::uint32_t(std::atol(argv[++i]));
        } else if (!std::strcmp(argv[i], "--kind") && more) {
            options.kind = argv[++i];
        } else if (!std::strcmp(argv[i], "--index") && more) {
            options.index = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--save") && more) {
            options.save = argv[++i];
        } else if (!std::strcmp(argv[i], "--no-still")) {
            options.still = false;
        } else if (!std::strcmp(argv[i], "--verbose")) {
            options.verbose = true;
        } else if (!std::strcmp(argv[i], "--corners")) {
            options.corners = true;
        } else {
            std::fprintf(stderr,
                         "usage: camera_detection_quality [--count N] [--seed-base S] [--kind NAME] "
                         "[--index I] [--no-still] [--save DIR] [--verbose] [--corners]\n");
            return 2;
        }
    }
    const cv::Size previewSize(1280, 720), stillSize(2016, 1512);
    std::printf("%d pictures per kind, seed base %u; preview %dx%d, still %dx%d\n", options.count,
                options.seedBase, previewSize.width, previewSize.height, stillSize.width, stillSize.height);
    Evaluation evaluation(options);
    Tally allPreview, allStill;
    for (synthetic::Kind kind : synthetic::kKinds) {
        if (!options.kind.empty() && options.kind != synthetic::kindName(kind)) {
            continue;
        }
        Tally preview, still;
        for (int i = 0; i < options.count; ++i) {
            if (options.index >= 0 && i != options.index) {
                continue;
            }
            const auto scene = synthetic::renderScene(synthetic::sceneOfKind(kind, i, previewSize, options.seedBase));
            const auto quad = CameraController::detectPageInFrame(frameImage(scene.image));
            evaluation.measure(preview, kind, i, "preview", scene, quad, false);
            if (options.still) {
                // The same scene again at the size of a photo.
                const auto big = synthetic::renderScene(synthetic::sceneOfKind(kind, i, stillSize, options.seedBase));
                evaluation.measure(still, kind, i, "still", big, LineArtExtractor::detectDocument(big.image), true);
            }
        }
        preview.print(synthetic::kindName(kind), "preview");
        still.print(synthetic::kindName(kind), "still");
        std::fflush(stdout);
    }
    return 0;
}
