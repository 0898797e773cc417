#include "scan/outline_edges.h"
#include "scan/page_detector.h"
#include "scan/side_measures.h"

#include "support/scene_images.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace vellumora {
namespace {

using synthetic::Background;
using synthetic::Kind;

const cv::Size kFrame(1280, 720);

// Two scenes of every kind that has made detection fail: boxes, frames and grids drawn on the
// sheet, printed text, dark cards and books beside it, close-ups, curled corners, harsh light
// and shadows, JPEG and blur; and the hardest of some kinds. The sheet is found, and none of its
// ink is left outside.
TEST(PageDetectionTest, findsTheSheetInEveryKindOfScene) {
    struct Case {
        Kind kind;
        int index;
        cv::Size frame;
        std::uint32_t seedBase = 0;
    };
    const cv::Size still(2016, 1512);
    std::vector<Case> cases = {
        {Kind::harshLight, 37, kFrame},     // half the sheet in deep shade on a wooden desk
        {Kind::harshLight, 21, kFrame},     // a pale desk up to a shadow's edge, the sheet on it
        {Kind::curledCorners, 19, kFrame},  // a pale desk around the sheet, a curl at its edge
        {Kind::curledCorners, 4, still},    // a curled corner cut off from the region of paper
        {Kind::closeUp, 12, still},         // a side leaving the frame close along its border
        {Kind::harshLight, 6, still},       // a lit pale desk cut by the frame, the sheet on it
        {Kind::harshLight, 34, kFrame, 1},  // a shadow's edge across the sheet and the desk alike
        {Kind::harshLight, 18, kFrame, 1},  // the sheet's shaded part as dark as paper can be
        {Kind::drawnBoxes, 17, kFrame, 1},  // a frame drawn just inside the sheet's edge
        {Kind::curledCorners, 23, kFrame},  // a side in shade that steps along under half its length
        {Kind::textBlocks, 12, kFrame, 1},  // a strip of desk beyond the sheet's edge, too thin to measure
        {Kind::harshLight, 1, kFrame, 1},   // shaded paper, a shadow's edge just past it, a lit desk beyond
        {Kind::curledCorners, 5, still, 2}, // a pale desk the frame cuts around a sheet wholly in view
        {Kind::drawnBoxes, 0, kFrame, 2},   // outlines that set each other aside: the outermost
        {Kind::jpegAndBlur, 26, kFrame},    // the same, with an outline past the sheet scoring less
        {Kind::jpegAndBlur, 17, kFrame, 1}, // a line drawn just inside the sheet's edge, a thumb on that edge
        {Kind::harshLight, 11, kFrame, 2},  // a shadow's soft edge across the sheet, its shaded edge weak
        {Kind::harshLight, 19, kFrame, 2},  // a shadow's edge across a side: shaded paper beside a lit desk
        {Kind::closeUp, 29, kFrame},        // a paper region cut short where the light falls off to a corner
        {Kind::closeUp, 12, still, 2},      // the same along a side of a still
        {Kind::drawnBoxes, 5, kFrame, 3},   // a cast shadow weakens one side of a sheet wholly in view
        {Kind::jpegAndBlur, 16, still, 3},  // the same in a blurred still
        {Kind::harshLight, 31, kFrame, 2},  // its top edge in shade, too close to the frame to see past
        {Kind::jpegAndBlur, 5, still, 6},   // a sheet in view whose outlines set each other aside
        {Kind::curledCorners, 37, kFrame, 6},  // a cast shadow over part of it: the lit part steps best
        {Kind::drawnBoxes, 25, kFrame, 7},  // a grid's thick border a few pixels inside the sheet's edges
        {Kind::darkObjects, 39, kFrame, 7}, // a card's edges lined up with the sheet's: desk past them, not shade
        {Kind::curledCorners, 36, still, 7},  // the same past the sheet's end, over a colourful desk
        {Kind::darkObjects, 19, kFrame, 4},  // the sheet's edge lined up with a card's across the desk
        {Kind::desk, 5, kFrame, 7},          // a drawn line, the sheet's edge and a shadow's lined up as one
        {Kind::darkObjects, 21, still, 9},   // cards' own edges crowding out the sheet's shaded one
        {Kind::darkObjects, 35, kFrame, 8},  // an outline over a grey desk to a card's edge around the sheet
        {Kind::harshLight, 9, kFrame, 0},    // a shadow's sharp edge across it, its sides going on in shade
        {Kind::harshLight, 16, kFrame, 5},   // a shadow's edge as sharp as the sheet's, lines drawn across it
        {Kind::darkObjects, 35, still, 8},   // an outline crossing the sheet, lined up with a card's edge
        {Kind::textBlocks, 19, still, 9},    // a pale object touching the sheet's edge: a wedge, not a frame
        {Kind::harshLight, 2, still, 11},    // a patch of light over desk and sheet, cut by the frame's corner
        {Kind::harshLight, 19, still, 10},   // lit grey desk out to the frame, clutter on the sheet's edge
        {Kind::harshLight, 8, still, 12},    // the sheet's end in shade as deep as a dark desk, lines running into it
        {Kind::harshLight, 8, kFrame, 12},   // the same, the lines fading in the deepest shade
        {Kind::darkObjects, 27, kFrame, 10}, // two boxes' and a card's edges outnumbering the sheet's
        {Kind::harshLight, 36, still, 5},    // a shadow's edge splits the sheet's outline in two, its shaded half on dark grain
        {Kind::drawnBoxes, 16, kFrame, 14},  // a frame drawn inside the edge, darker against the paper than the desk
        {Kind::harshLight, 22, kFrame, 12},  // a box drawn up to the edge in shade: the paper strip between is no line
        {Kind::harshLight, 24, kFrame, 16},  // lit desk to the frame on three sides, one of the sheet's sides carried on to it
        {Kind::harshLight, 34, kFrame, 17},  // most of the sheet in deep shade, its bottom edge too near the frame to see past
        {Kind::harshLight, 35, still, 18},   // the lit part, carried past the sheet's corner by a shadow's edge over lit desk
        {Kind::harshLight, 31, still, 11},   // the sheet's side carried on to the frame, where a lit patch of desk meets it
        {Kind::harshLight, 18, still, 19},   // the sheet's side against lit grain, in pieces too short to be an edge
        {Kind::curledCorners, 15, still, 1}, // a pale disc touching the sheet: its region's side across it is no edge
        {Kind::harshLight, 18, kFrame, 7},   // a shadow's sharp edge down the sheet: shaded paper past it, no desk
        {Kind::harshLight, 6, still, 20},    // a bright cyan card lighter than the sheet in shade
        {Kind::darkObjects, 3, still, 20},   // lines drawn near the sheet's sides, grey desk out to a card
        {Kind::harshLight, 5, kFrame, 21},   // a soft shadow's edge down a small sheet, thin lines across it
        {Kind::darkObjects, 3, kFrame, 22},  // the sheet's side stepping on past its corner along a green card
        {Kind::harshLight, 18, still, 22},   // shadow over two sides, the desk in it as dark as the paper; pale desk to the frame
        {Kind::closeUp, 17, still, 6},       // all paper, a shadow's edge across a corner: the frame, not the lit part
    };
    for (Kind kind : synthetic::kKinds) {
        for (int index : {0, 1}) {
            cases.push_back({kind, index, kFrame});
        }
    }
    for (const Case& c : cases) {
        const auto scene =
            synthetic::renderScene(synthetic::sceneOfKind(c.kind, c.index, c.frame, c.seedBase));
        const auto quad = scan::detectPage(scene.image);
        const std::string name = synthetic::kindName(c.kind) + std::string(" ") + std::to_string(c.index) +
                                 "/" + std::to_string(c.seedBase);
        ASSERT_TRUE(quad) << name;
        EXPECT_GT(testing::iou(*quad, scene), 0.97) << name;
        EXPECT_GE(synthetic::inkKept(testing::cornersOf(*quad), scene.ink), 0.99) << name;
    }
}

TEST(PageDetectionTest, cornersAreFoundToAPixelClockwiseFromTheTopLeft) {
    auto p = testing::scene(Background::clutter, -14, 0.06, 5, kFrame);
    p.thumb = true;
    const auto s = synthetic::renderScene(p);
    const auto quad = scan::detectPage(s.image);
    ASSERT_TRUE(quad);
    const auto corners = quad->clockwise();
    for (int i = 0; i < 4; ++i) {
        EXPECT_LT(cv::norm(cv::Point2d(corners[i].x(), corners[i].y()) - s.corners[i]), 1.5) << i;
    }
}

// A close-up with nothing but paper in view: the page is the whole frame, not the big box drawn
// on it; with a strip of desk along one side, the paper up to the sheet's edge.
TEST(PageDetectionTest, aCloseUpIsTheFrameOrThePaperInItNeverABoxDrawnOnIt) {
    for (double coverage : {1.05, 0.9}) {
        auto p = synthetic::sceneOfKind(Kind::closeUp, 2, kFrame);
        p.drawing = synthetic::Drawing::shapes;
        p.coverage = coverage;
        const auto scene = synthetic::renderScene(p);
        const auto quad = scan::detectPage(scene.image);
        ASSERT_TRUE(quad) << coverage;
        EXPECT_GT(testing::iou(*quad, scene), 0.97) << coverage;
    }
}

// A cast shadow over half of one side shades half the paper along it; a lit side has none, nor
// one with a line drawn along it inside.
TEST(PageDetectionTest, shadeAlongASideIsThatOfThePaperInsideIt) {
    cv::Mat image(240, 400, CV_8UC3, cv::Scalar(110, 110, 110));
    cv::rectangle(image, cv::Rect(100, 50, 200, 140), cv::Scalar(235, 235, 235), cv::FILLED);
    cv::line(image, {100, 54}, {300, 54}, cv::Scalar(40, 40, 40), 2);
    cv::Mat shadow = image(cv::Rect(80, 120, 120, 100));
    shadow *= 0.75;
    const auto w = scan::WorkingImage::from(image);
    const cv::Point2d topLeft(100, 50), topRight(300, 50), bottomRight(300, 190), bottomLeft(100, 190);
    struct Side {
        cv::Point2d a, b;
        double shaded;
    };
    for (const Side& side : {Side{topLeft, topRight, 0.0}, Side{topRight, bottomRight, 0.0},
                             Side{bottomRight, bottomLeft, 0.5}}) {
        EXPECT_NEAR(scan::shadedInside(w, side.a, side.b, w.paperWhite), side.shaded, 0.1) << side.a << side.b;
    }
}

// Lines drawn on the sheet run on across a shadow's edge, darker past it; a sheet's edge ends
// them, and a shadow's edge with no lines across it shows none, nor does the picture's own edge
// where the side runs out of it, nor the edges of something lying across a sheet's edge. Lines a
// pixel thin in a large picture are seen too, however the working size blurs them away.
TEST(PageDetectionTest, drawnLinesRunOnAcrossAShadowsEdgeOnly) {
    enum class Drawn { nothing, lines, thinLines, object };
    struct Case {
        const char* name;
        bool sheetEdge;
        Drawn drawn;
        bool offPicture, across;
    };
    for (const Case& c : {Case{"shadow's edge", false, Drawn::lines, false, true},
                          Case{"sheet's edge", true, Drawn::lines, false, false},
                          Case{"no lines", false, Drawn::nothing, false, false},
                          Case{"sheet's edge out of the picture", true, Drawn::nothing, true, false},
                          Case{"thin lines across a shadow's edge", false, Drawn::thinLines, false, true},
                          Case{"thin lines ending at a sheet's edge", true, Drawn::thinLines, false, false},
                          Case{"objects lying across a sheet's edge", true, Drawn::object, false, false}}) {
        const int s = c.drawn == Drawn::lines ? 1 : 4;
        cv::Mat image(240 * s, 400 * s, CV_8UC3, cv::Scalar(225, 225, 225));
        if (c.sheetEdge) {
            image(cv::Rect(0, 0, 400 * s, 120 * s)).setTo(cv::Scalar(110, 110, 110));
        }
        for (int x = 100; c.drawn == Drawn::object && x < 300; x += 100) {
            image(cv::Rect(cv::Point(x, 60) * s, cv::Point(x + 40, 180) * s)).setTo(cv::Scalar(160, 160, 160));
        }
        for (int x = 100; (c.drawn == Drawn::lines || c.drawn == Drawn::thinLines) && x < 300; x += 50) {
            cv::line(image, cv::Point(x, c.sheetEdge ? 126 : 40) * s, cv::Point(x + 20, 210) * s,
                     cv::Scalar(50, 50, 50), s == 1 ? 2 : 1);
        }
        if (!c.sheetEdge) {
            cv::Mat shade = image(cv::Rect(0, 0, 400 * s, 120 * s));
            shade *= 0.55;
        }
        const auto w = scan::WorkingImage::from(image);
        const double reach = c.offPicture ? 120 : 0;
        EXPECT_EQ(scan::linesRunAcross(w, {60 - reach, 120}, {340 + reach, 120}), c.across) << c.name;
    }
}

// An outline that runs on along the sheet's side past both its ends takes in desk there, unless
// its side goes on stepping, as the sheet's shaded part would; the sheet's own edge between those
// ends says nothing either way. A step that starts away from the sheet's corners, along a stretch
// too short to be an edge, is a lit patch of desk the side meets by chance.
TEST(PageDetectionTest, anOutersSidePastBothEndsOfTheSheetIsJudgedThereOnly) {
    struct Case {
        int reach;  // of the outer one past the sheet's ends
        int lit;    // of that, how far from the outer one's ends paper or a lit desk lies
        bool overDesk;
    } const cases[] = {{60, 0, true}, {60, 60, false}, {16, 16, false}, {16, 7, true}};
    for (const Case& c : cases) {
        cv::Mat image(240, 400, CV_8UC3, cv::Scalar(110, 110, 110));
        image(cv::Rect(100, 50, 200, 140)).setTo(cv::Scalar(235, 235, 235));
        const int left = 100 - c.reach, right = 300 + c.reach;
        if (c.lit > 0) {
            image(cv::Rect(left, 50, c.lit, 140)).setTo(cv::Scalar(170, 170, 170));
            image(cv::Rect(right - c.lit, 50, c.lit, 140)).setTo(cv::Scalar(170, 170, 170));
        }
        const auto w = scan::WorkingImage::from(image);
        const scan::Corners sheet{cv::Point2d(100, 50), {300, 50}, {300, 190}, {100, 190}};
        const double l = left, r = right;
        const scan::Corners outer{cv::Point2d(l, 20), {r, 20}, {r, 190}, {l, 190}};
        EXPECT_EQ(scan::sidesGoOnOverDesk(w, outer, sheet), c.overDesk) << c.reach << " " << c.lit;
    }
}

// Too near the frame to see past, a sheet's edge has a strip of desk between it and the frame; a
// marker's line drawn along the frame is as dark, but paper shows past it, or it is too thin to tell.
TEST(PageDetectionTest, aStripOfDeskStepsDownToTheFrameAMarkersLineDoesNot) {
    struct Case {
        const char* name;
        int top, bottom;  // of the dark strip
        cv::Scalar colour;
        bool steps;
    };
    for (const Case& c : {Case{"desk", 232, 240, cv::Scalar(90, 40, 80), true},
                          Case{"line with paper past it", 229, 234, cv::Scalar(40, 40, 40), false},
                          Case{"line along the frame", 235, 240, cv::Scalar(40, 40, 40), false}}) {
        cv::Mat image(240, 400, CV_8UC3, cv::Scalar(225, 225, 225));
        image(cv::Range(c.top, c.bottom), cv::Range::all()).setTo(c.colour);
        const auto w = scan::WorkingImage::from(image);
        const auto share = scan::stepToFrame(w, {20, double(c.top)}, {380, double(c.top)});
        EXPECT_EQ(share.value_or(0.0) >= 0.8, c.steps) << c.name;
    }
}

// Cards, books and phones are not paper, nor is a desk.
TEST(PageDetectionTest, withoutASheetThereIsNoPage) {
    for (Background b : {Background::wood, Background::darkDesk, Background::clutter}) {
        auto p = testing::scene(b, 0, 0, 9, kFrame);
        p.withPage = false;
        p.darkObjects = 3;
        EXPECT_FALSE(scan::detectPage(synthetic::renderScene(p).image)) << int(b);
    }
}

}  // namespace
}  // namespace vellumora
