#pragma once
// Synthetic camera pictures of a sheet of paper with known corners and known ink: a sketch, pen
// shapes, boxes and grids or printed text on paper grain, laid on a desk, a cloth, leaves or
// clutter beside dark cards and books, tilted, curled, lit unevenly, shadowed or held by a thumb,
// then blurred, noised and JPEG-compressed like a camera. For detection-quality measurements and
// for tests that need camera frames without a camera.

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace vellumora::synthetic {

enum class Background { wood, cloth, clutter, lightDesk, darkDesk, foliage };

// What is on the sheet.
enum class Drawing {
    sketch,  // pencil curves and a circle
    shapes,  // pen boxes, circles, triangles and diamonds, some of them large
    frames,  // a frame drawn near the sheet's edge around panels or a grid
    text,    // printed text in dense blocks
};

struct SceneParameters {
    cv::Size frame{1280, 720};
    Background background = Background::wood;
    Drawing drawing = Drawing::sketch;
    bool withPage = true;              // false: only the background, lit and noised the same way
    double pageAspect = 1.0 / 1.4142;  // width over height of the sheet before placement
    double pageHeight = 0.75;          // the sheet's height as a share of the frame's height
    // Above 0: a close-up, the sheet scaled to cover this share of the frame, edges and corners
    // possibly beyond it (pageHeight is then ignored).
    double coverage = 0.0;
    cv::Point2d centre{0.5, 0.5};  // where the sheet sits, as shares of the frame
    double rotation = 0.0;         // degrees, clockwise on screen
    double perspective = 0.0;      // how far corners move to show tilt, share of the sheet
    int darkObjects = 0;           // dark cards, books and phones lying beside the sheet
    int curledCorners = 0;         // corners folded over onto the sheet
    double lightGradient = 0.2;    // brightness falls by this share across the frame
    bool shadow = false;           // a soft shadow across part of the sheet
    bool castShadow = false;       // a sharper shadow of something held above, over sheet and desk
    bool thumb = false;            // a thumb over one edge of the sheet
    double blur = 0.8;             // Gaussian sigma of the lens, in pixels
    double motionBlur = 0.0;       // length of a shake, in pixels
    double noise = 3.0;            // sensor noise, grey levels
    int jpegQuality = 0;           // above 0: the picture goes through JPEG at this quality
    std::uint32_t seed = 1;
};

// A line on the sheet, in the sheet's own unit coordinates (0...1 across and down).
struct Stroke {
    std::vector<cv::Point2d> points;
    double width = 0.003;  // share of the sheet's width
};

using Corners = std::array<cv::Point2d, 4>;

struct Scene {
    cv::Mat image;    // 8-bit BGR
    Corners corners;  // continuous pixels, clockwise from the top-left; may lie beyond the frame
    std::vector<Stroke> strokes;  // the drawn lines (printed text is not among them)
    cv::Mat ink;                  // 8-bit, 255 where the sheet's ink shows in the picture
    cv::Mat shadowMask;           // 8-bit, 255 where the soft shadow falls (empty without one)
};

Scene renderScene(const SceneParameters& parameters);

// The evaluation sets: each kind is one way page detection has failed, on otherwise varied
// scenes.
enum class Kind { desk, drawnBoxes, textBlocks, darkObjects, closeUp, curledCorners, harshLight, jpegAndBlur };
inline constexpr std::array<Kind, 8> kKinds = {Kind::desk,         Kind::drawnBoxes, Kind::textBlocks,
                                               Kind::darkObjects,  Kind::closeUp,    Kind::curledCorners,
                                               Kind::harshLight,   Kind::jpegAndBlur};
const char* kindName(Kind kind);

// The index-th scene of a kind's set; a different seed base gives a different set.
SceneParameters sceneOfKind(Kind kind, int index, cv::Size frame, std::uint32_t seedBase = 0);

// Intersection over union of the page as seen in the frame: both outlines are clipped to it.
double pageIoU(const Corners& found, const Corners& truth, cv::Size frame);

// The share of the visible ink that lies inside the outline.
double inkKept(const Corners& outline, const cv::Mat& ink);

}  // namespace vellumora::synthetic
