#include "scenes/synthetic_sheet.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::synthetic {

namespace {

// Lines are drawn with a sixteenth of a pixel's precision.
constexpr int kShift = 4;

cv::Point fixedPoint(cv::Point2d unit, cv::Size size) {
    return {int(std::lround(unit.x * size.width * (1 << kShift))),
            int(std::lround(unit.y * size.height * (1 << kShift)))};
}

// A hand-drawn closed outline through the given unit points: sides bow a little and wobble.
Stroke handDrawn(Rng& rng, const std::vector<cv::Point2d>& vertices, double width, bool closed = true) {
    Stroke s;
    s.width = width;
    const size_t n = vertices.size(), sides = closed ? n : n - 1;
    for (size_t i = 0; i < sides; ++i) {
        const cv::Point2d a = vertices[i], b = vertices[(i + 1) % n];
        const cv::Point2d normal(-(b - a).y, (b - a).x);
        const double bow = uniform(rng, -0.02, 0.02);
        for (int k = 0; k < 12; ++k) {
            const double t = k / 12.0;
            s.points.push_back(a + (b - a) * t + normal * (bow * std::sin(CV_PI * t)));
        }
    }
    s.points.push_back(closed ? vertices[0] : vertices.back());
    return s;
}

// An ellipse of unit radius r across (so round on the sheet), centred at c.
Stroke ellipse(cv::Point2d c, double rx, double ry, double width) {
    Stroke s;
    s.width = width;
    for (int k = 0; k <= 64; ++k) {
        s.points.push_back(c + cv::Point2d(rx * std::cos(k * CV_PI / 32), ry * std::sin(k * CV_PI / 32)));
    }
    return s;
}

std::vector<cv::Point2d> box(cv::Point2d topLeft, cv::Point2d bottomRight) {
    return {topLeft, {bottomRight.x, topLeft.y}, bottomRight, {topLeft.x, bottomRight.y}};
}

void sketchCurves(Rng& rng, std::vector<Stroke>& strokes, int count) {
    for (int i = 0; i < count; ++i) {
        Stroke s;
        s.width = uniform(rng, 0.002, 0.005);
        const cv::Point2d a(uniform(rng, 0.15, 0.85), uniform(rng, 0.15, 0.85));
        const cv::Point2d b(uniform(rng, 0.15, 0.85), uniform(rng, 0.15, 0.85));
        const cv::Point2d c(uniform(rng, 0.1, 0.9), uniform(rng, 0.1, 0.9));
        for (int k = 0; k <= 40; ++k) {
            const double t = k / 40.0;
            s.points.push_back((1 - t) * (1 - t) * a + 2 * (1 - t) * t * c + t * t * b);
        }
        strokes.push_back(std::move(s));
    }
}

// Pen shapes as people draw them to colour in: a large box around much of the sheet, and
// smaller boxes, circles, triangles and diamonds.
void shapes(Rng& rng, std::vector<Stroke>& strokes, double aspect) {
    const double width = uniform(rng, 0.003, 0.008);
    const double inset = uniform(rng, 0.06, 0.25);
    const double insetY = inset * uniform(rng, 0.6, 1.2) * aspect;
    strokes.push_back(handDrawn(rng, box({inset, insetY}, {1 - inset, 1 - insetY}), width));
    const int count = 2 + int(rng() % 5);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c(uniform(rng, 0.25, 0.75), uniform(rng, 0.25, 0.75));
        const double r = uniform(rng, 0.06, 0.2), ry = r * aspect;
        switch (rng() % 4) {
            case 0:
                strokes.push_back(handDrawn(rng, box(c - cv::Point2d(r, ry), c + cv::Point2d(r, ry)), width));
                break;
            case 1:
                strokes.push_back(ellipse(c, r, ry, width));
                break;
            case 2:
                strokes.push_back(handDrawn(rng, {{c.x, c.y - ry}, {c.x + r, c.y + ry}, {c.x - r, c.y + ry}}, width));
                break;
            default:
                strokes.push_back(
                    handDrawn(rng, {{c.x, c.y - ry}, {c.x + r, c.y}, {c.x, c.y + ry}, {c.x - r, c.y}}, width));
                break;
        }
    }
}

// A frame close to the sheet's edge around panels or a grid.
void frames(Rng& rng, std::vector<Stroke>& strokes, double aspect) {
    const double width = uniform(rng, 0.003, 0.007);
    const double inset = uniform(rng, 0.025, 0.08), insetY = inset * aspect;
    const double left = inset, right = 1 - inset, top = insetY, bottom = 1 - insetY;
    strokes.push_back(handDrawn(rng, box({left, top}, {right, bottom}), width));
    const int columns = 1 + int(rng() % 4), rows = 1 + int(rng() % 5);
    for (int i = 1; i < columns; ++i) {
        const double x = left + (right - left) * i / columns;
        strokes.push_back(handDrawn(rng, {{x, top}, {x, bottom}}, width, false));
    }
    for (int i = 1; i < rows; ++i) {
        const double y = top + (bottom - top) * i / rows;
        strokes.push_back(handDrawn(rng, {{left, y}, {right, y}}, width, false));
    }
    sketchCurves(rng, strokes, 2 + int(rng() % 4));
}

// Printed text: one or two columns of dense lines of words, each letter a small outline, under
// a bold heading, sometimes around a grey picture.
void text(Rng& rng, cv::Mat& paper, cv::Mat& ink, double aspect) {
    const cv::Size size = paper.size();
    const double margin = uniform(rng, 0.07, 0.14);
    const double spacing = uniform(rng, 0.012, 0.024);  // share of the height
    const double xHeight = spacing * uniform(rng, 0.38, 0.5);
    const double letter = xHeight * uniform(rng, 0.5, 0.7) / aspect;  // share of the width
    const double gray = uniform(rng, 10, 50);
    const int columns = 1 + int(rng() % 2);
    const double gutter = 0.04;
    const double columnWidth = (1 - 2 * margin - (columns - 1) * gutter) / columns;
    const double top = margin * aspect, bottom = 1 - margin * aspect * uniform(rng, 0.8, 1.6);
    auto glyph = [&](double x, double y, double w, double h, int thickness) {
        const cv::Rect r(int(x * size.width), int(y * size.height), std::max(1, int(w * size.width)),
                         std::max(1, int(h * size.height)));
        cv::rectangle(paper, r, cv::Scalar::all(gray), thickness);
        cv::rectangle(ink, r, cv::Scalar(255), thickness);
    };
    // A heading in bold letters across the top.
    double y = top;
    for (double x = margin; x < margin + uniform(rng, 0.3, 0.8) * (1 - 2 * margin); x += 2.4 * letter) {
        glyph(x, y, 2 * letter, 2.2 * xHeight, cv::FILLED);
    }
    y += 3 * spacing;
    const bool picture = rng() % 3 == 0;
    const cv::Rect2d photo(margin, y + uniform(rng, 0.1, 0.4), columnWidth * uniform(rng, 0.5, 1.0),
                           uniform(rng, 0.1, 0.25));
    if (picture) {
        cv::Mat area = paper(cv::Rect(int(photo.x * size.width), int(photo.y * size.height),
                                      int(photo.width * size.width), int(photo.height * size.height)));
        cv::randu(area, cv::Scalar::all(60), cv::Scalar::all(190));
        cv::GaussianBlur(area, area, cv::Size(), 3.0);
    }
    const int thin = std::max(1, int(std::lround(0.15 * xHeight * size.height)));
    for (; y + xHeight < bottom; y += spacing) {
        for (int column = 0; column < columns; ++column) {
            const double start = margin + column * (columnWidth + gutter);
            const double end = start + columnWidth * (rng() % 9 == 0 ? uniform(rng, 0.3, 0.9) : 1.0);
            for (double x = start; x < end;) {
                const int letters = 1 + int(rng() % 9);
                for (int i = 0; i < letters && x + letter < end; ++i, x += letter * 1.2) {
                    if (picture && photo.contains({x, y})) {
                        continue;
                    }
                    const double rise = rng() % 4 == 0 ? 0.5 * xHeight : 0.0;
                    glyph(x, y - rise, letter, xHeight + rise, thin);
                }
                x += letter * 1.4;
            }
        }
    }
}

// Folds a corner over onto the sheet: its triangle leaves the outline, its back lies shaded on
// the paper, the less of it the more the corner is lifted rather than folded flat.
void curl(Rng& rng, Sheet& sheet, int corner) {
    const cv::Size size = sheet.paper.size();
    const std::array<cv::Point2d, 4> c{cv::Point2d(0, 0), cv::Point2d(size.width, 0),
                                       cv::Point2d(size.width, size.height), cv::Point2d(0, size.height)};
    const cv::Point2d at = c[corner], prev = c[(corner + 3) % 4], next = c[(corner + 1) % 4];
    const double leg = uniform(rng, 0.05, 0.12) * std::min(size.width, size.height);
    const cv::Point2d p1 = at + (prev - at) / cv::norm(prev - at) * leg * uniform(rng, 0.8, 1.25);
    const cv::Point2d p2 = at + (next - at) / cv::norm(next - at) * leg * uniform(rng, 0.8, 1.25);
    const cv::Point2d foot = p1 + (p2 - p1) * ((at - p1).dot(p2 - p1) / (p2 - p1).dot(p2 - p1));
    const cv::Point2d tip = foot + (foot - at) * uniform(rng, 0.45, 1.0);
    auto poly = [](std::initializer_list<cv::Point2d> points) {
        std::vector<cv::Point> out;
        for (const auto& p : points) out.emplace_back(int(std::lround(p.x)), int(std::lround(p.y)));
        return out;
    };
    const auto gone = poly({at, p1, p2});
    const auto flap = poly({p1, tip, p2});
    cv::fillConvexPoly(sheet.alpha, gone, cv::Scalar(0), cv::LINE_AA);
    cv::fillConvexPoly(sheet.ink, gone, cv::Scalar(0));
    cv::Mat flapMask(size, CV_8U, cv::Scalar(0));
    cv::fillConvexPoly(flapMask, flap, cv::Scalar(255), cv::LINE_AA);
    sheet.ink.setTo(0, flapMask);
    // The back of the paper, darker towards the fold where it turns away from the light.
    const double shade = uniform(rng, 0.7, 0.92);
    const cv::Scalar back = cv::mean(sheet.paper, sheet.alpha > 0.5) * shade;
    cv::Mat flapPaper(size, CV_32FC3, back);
    cv::Mat soft;
    flapMask.convertTo(soft, CV_32F, 1.0 / 255);
    cv::Mat soft3;
    cv::merge(std::vector<cv::Mat>{soft, soft, soft}, soft3);
    sheet.paper = sheet.paper.mul(cv::Scalar::all(1.0) - soft3) + flapPaper.mul(soft3);
}

}  // namespace

Sheet drawSheet(Rng& rng, cv::Size size, Drawing drawing, int curledCorners) {
    Sheet sheet;
    sheet.paper = cv::Mat(size, CV_32FC3,
                          cv::Scalar(uniform(rng, 222, 240), uniform(rng, 232, 248), uniform(rng, 238, 252)));
    cv::Mat grain(size, CV_32F);
    cv::randn(grain, 0, 3);
    cv::GaussianBlur(grain, grain, cv::Size(), 0.8);
    cv::Mat grain3;
    cv::merge(std::vector<cv::Mat>{grain, grain, grain}, grain3);
    sheet.paper += grain3;
    sheet.alpha = cv::Mat(size, CV_32F, cv::Scalar(1));
    sheet.ink = cv::Mat(size, CV_8U, cv::Scalar(0));

    const double aspect = double(size.width) / size.height;
    cv::Scalar colour = cv::Scalar::all(uniform(rng, 70, 130));  // graphite
    switch (drawing) {
        case Drawing::sketch: {
            sketchCurves(rng, sheet.strokes, 6 + int(rng() % 6));
            const double r = uniform(rng, 0.1, 0.2);
            sheet.strokes.push_back(
                ellipse({uniform(rng, 0.35, 0.65), uniform(rng, 0.35, 0.65)}, r, r * aspect, 0.004));
            break;
        }
        case Drawing::shapes:
        case Drawing::frames:
            // Black or blue pen.
            colour = rng() % 3 ? cv::Scalar::all(uniform(rng, 15, 60))
                               : cv::Scalar(uniform(rng, 110, 160), uniform(rng, 40, 70), uniform(rng, 10, 40));
            (drawing == Drawing::shapes ? shapes : frames)(rng, sheet.strokes, aspect);
            break;
        case Drawing::text:
            text(rng, sheet.paper, sheet.ink, aspect);
            break;
    }
    for (const Stroke& s : sheet.strokes) {
        std::vector<cv::Point> points;
        for (const auto& p : s.points) points.push_back(fixedPoint(p, size));
        const int thickness = std::max(1, int(std::lround(s.width * size.width)));
        cv::polylines(sheet.paper, points, false, colour, thickness, cv::LINE_AA, kShift);
        cv::polylines(sheet.ink, points, false, cv::Scalar(255), thickness, cv::LINE_8, kShift);
    }
    const int first = int(rng() % 4);
    for (int i = 0; i < std::min(curledCorners, 4); ++i) {
        curl(rng, sheet, (first + 2 * i + i / 2) % 4);
    }
    return sheet;
}

}  // namespace vellumora::synthetic
