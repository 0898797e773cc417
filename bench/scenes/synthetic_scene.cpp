#include "scenes/synthetic_scene.h"

#include "scenes/synthetic_sheet.h"

#include <QBuffer>
#include <QImage>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vellumora::synthetic {

namespace {

// Smooth random field in [-1, 1]: noise at `cells` resolution scaled up.
cv::Mat smoothNoise(cv::Size size, cv::Size cells) {
    cv::Mat coarse(cells, CV_32F);
    cv::randn(coarse, 0.0, 1.0);
    cv::Mat f;
    cv::resize(coarse, f, size, 0, 0, cv::INTER_CUBIC);
    return cv::max(cv::min(f / 2.0, 1.0), -1.0);
}

cv::Scalar randomColour(Rng& rng, double low, double high) {
    return {uniform(rng, low, high), uniform(rng, low, high), uniform(rng, low, high)};
}

cv::Mat background(Rng& rng, const SceneParameters& p) {
    cv::Mat bg(p.frame, CV_32FC3);
    const cv::Size size = p.frame;
    switch (p.background) {
        case Background::wood: {
            const cv::Scalar base(uniform(rng, 40, 80), uniform(rng, 80, 120), uniform(rng, 130, 175));
            const cv::Mat wobble = smoothNoise(size, {4, 24});
            const double freq = uniform(rng, 0.03, 0.08);
            for (int y = 0; y < size.height; ++y) {
                auto* row = bg.ptr<cv::Vec3f>(y);
                for (int x = 0; x < size.width; ++x) {
                    const double grain = 0.85 + 0.15 * std::sin(y * freq + 6.0 * wobble.at<float>(y, x));
                    row[x] =
                        cv::Vec3f(float(base[0] * grain), float(base[1] * grain), float(base[2] * grain));
                }
            }
            break;
        }
        case Background::cloth: {
            bg.setTo(randomColour(rng, 40, 200));
            cv::Mat weave(size, CV_32FC3);
            cv::randn(weave, 0, 14);
            cv::GaussianBlur(weave, weave, cv::Size(), 1.2);
            bg += weave;
            break;
        }
        case Background::clutter:
        case Background::foliage: {
            const bool leaves = p.background == Background::foliage;
            bg.setTo(leaves ? cv::Scalar(uniform(rng, 20, 50), uniform(rng, 50, 90), uniform(rng, 30, 60))
                            : cv::Scalar(uniform(rng, 60, 120), uniform(rng, 70, 130), uniform(rng, 80, 140)));
            const int objects = leaves ? 140 + int(rng() % 80) : 25 + int(rng() % 20);
            for (int i = 0; i < objects; ++i) {
                const cv::Scalar colour =
                    leaves ? cv::Scalar(uniform(rng, 10, 90), uniform(rng, 60, 200), uniform(rng, 30, 140))
                           : randomColour(rng, 0, 255);
                const cv::Point c(int(uniform(rng, 0, size.width)), int(uniform(rng, 0, size.height)));
                const int r = int(uniform(rng, 0.02, leaves ? 0.07 : 0.12) * size.height);
                switch (leaves ? 3 : rng() % 3) {
                    case 0:
                        cv::circle(bg, c, r, colour, cv::FILLED, cv::LINE_AA);
                        break;
                    case 1:
                        cv::rectangle(bg, c, c + cv::Point(r * 2, int(r * uniform(rng, 0.5, 1.5))), colour,
                                      cv::FILLED, cv::LINE_AA);
                        break;
                    case 2:
                        cv::line(bg, c,
                                 c + cv::Point(int(uniform(rng, -3, 3) * r), int(uniform(rng, -3, 3) * r)),
                                 colour, std::max(2, r / 6), cv::LINE_AA);
                        break;
                    default:
                        cv::ellipse(bg, c, cv::Size(r, std::max(1, r / 3)), uniform(rng, 0, 180), 0, 360, colour,
                                    cv::FILLED, cv::LINE_AA);
                        break;
                }
            }
            break;
        }
        case Background::lightDesk: {
            const double v = uniform(rng, 170, 200);
            bg.setTo(cv::Scalar(v - 4, v, v + 3));
            cv::Mat grain(size, CV_32FC3);
            cv::randn(grain, 0, 4);
            bg += grain;
            break;
        }
        case Background::darkDesk: {
            const double v = uniform(rng, 30, 70);
            bg.setTo(cv::Scalar(v, v + 2, v + 5));
            break;
        }
    }
    return bg;
}

std::vector<cv::Point> fixedPolygon(const Corners& c) {
    std::vector<cv::Point> poly;
    for (const auto& v : c) poly.emplace_back(int(std::lround((v.x - 0.5) * 16)), int(std::lround((v.y - 0.5) * 16)));
    return poly;
}

std::vector<cv::Point2f> floatPolygon(const Corners& c) {
    std::vector<cv::Point2f> poly;
    for (const auto& v : c) poly.emplace_back(float(v.x), float(v.y));
    return poly;
}

// The part of a convex outline inside the frame.
std::vector<cv::Point2f> clipped(const Corners& c, cv::Size frame) {
    std::vector<cv::Point2f> hull, out;
    cv::convexHull(floatPolygon(c), hull);
    const std::vector<cv::Point2f> rect = {
        {0, 0}, {float(frame.width), 0}, {float(frame.width), float(frame.height)}, {0, float(frame.height)}};
    cv::intersectConvexConvex(hull, rect, out, true);
    return out;
}

using Polygon = std::vector<cv::Point2d>;

double signedArea(const Polygon& p) {
    double twice = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const cv::Point2d& a = p[i];
        const cv::Point2d& b = p[(i + 1) % p.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return twice / 2;
}

double polygonArea(const Polygon& p) {
    return std::abs(signedArea(p));
}

// The part of convex `subject` inside convex `clip`, cut by each side of `clip` in turn. Unlike
// a general convex intersection it keeps an edge the two share (a page's side along the frame's).
Polygon clipConvex(Polygon subject, Polygon clip) {
    if (signedArea(clip) < 0) {
        std::reverse(clip.begin(), clip.end());
    }
    for (size_t i = 0; i < clip.size() && subject.size() >= 3; ++i) {
        const cv::Point2d a = clip[i], d = clip[(i + 1) % clip.size()] - a;
        auto side = [&](cv::Point2d p) { return d.x * (p.y - a.y) - d.y * (p.x - a.x); };
        Polygon kept;
        for (size_t j = 0; j < subject.size(); ++j) {
            const cv::Point2d p = subject[j], q = subject[(j + 1) % subject.size()];
            const double sp = side(p), sq = side(q);
            if (sp >= 0) {
                kept.push_back(p);
            }
            if ((sp >= 0) != (sq >= 0)) {
                kept.push_back(p + (q - p) * (sp / (sp - sq)));
            }
        }
        subject = std::move(kept);
    }
    return subject.size() >= 3 ? subject : Polygon();
}

Corners rectangleCorners(cv::Point2d centre, double width, double height, double degrees) {
    const double a = degrees * CV_PI / 180.0;
    Corners c{cv::Point2d(-width / 2, -height / 2), {width / 2, -height / 2}, {width / 2, height / 2},
              {-width / 2, height / 2}};
    for (auto& v : c) {
        v = cv::Point2d(v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a)) + centre;
    }
    return c;
}

Corners placement(Rng& rng, const SceneParameters& p, double heightShare) {
    const double h = heightShare * p.frame.height;
    Corners c = rectangleCorners({p.centre.x * p.frame.width, p.centre.y * p.frame.height}, h * p.pageAspect, h,
                                 p.rotation);
    const double reach = p.perspective * std::max(h * p.pageAspect, h);
    for (auto& v : c) v += cv::Point2d(uniform(rng, -reach, reach), uniform(rng, -reach, reach));
    return c;
}

bool inside(const Corners& c, cv::Size frame) {
    const double margin = 0.02 * frame.height;
    return std::all_of(c.begin(), c.end(), [&](cv::Point2d v) {
        return v.x > margin && v.y > margin && v.x < frame.width - margin && v.y < frame.height - margin;
    });
}

double coverageOf(const Corners& c, cv::Size frame) {
    return std::abs(cv::contourArea(clipped(c, frame))) / frame.area();
}

// The sheet placed either wholly in the frame at its height, or scaled about its centre until it
// covers the asked share of the frame.
Corners placeSheet(Rng& rng, const SceneParameters& p) {
    if (p.coverage <= 0) {
        double share = p.pageHeight;
        Corners corners = placement(rng, p, share);
        for (int i = 0; i < 40 && !inside(corners, p.frame); ++i) {
            share *= 0.95;
            corners = placement(rng, p, share);
        }
        return corners;
    }
    const Corners base = placement(rng, p, 1.0);
    const cv::Point2d centre = (base[0] + base[1] + base[2] + base[3]) * 0.25;
    auto scaledBy = [&](double s) {
        Corners c = base;
        for (auto& v : c) v = centre + (v - centre) * s;
        return c;
    };
    double low = 0.2, high = 8.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (low + high);
        (coverageOf(scaledBy(mid), p.frame) < std::min(p.coverage, 0.999) ? low : high) = mid;
    }
    // Full coverage: a little beyond the scale that first covers the frame.
    return scaledBy(p.coverage >= 0.999 ? high * uniform(rng, 1.0, 1.15) : high);
}

void blend(cv::Mat& under, const cv::Mat& over, const cv::Mat& coverage) {
    cv::Mat coverage3;
    cv::merge(std::vector<cv::Mat>{coverage, coverage, coverage}, coverage3);
    under = under.mul(cv::Scalar::all(1.0) - coverage3) + over.mul(coverage3);
}

// Dark cards, saturated books and phones lying about, the sheet over them where they meet.
void darkObjects(Rng& rng, cv::Mat& frame, const Corners& sheet, int count) {
    const cv::Size size = frame.size();
    const auto sheetPolygon = floatPolygon(sheet);
    for (int i = 0; i < count; ++i) {
        const int type = int(rng() % 3);
        const double longSide = size.height * (type == 0 ? uniform(rng, 0.16, 0.3)
                                               : type == 1 ? uniform(rng, 0.4, 0.75)
                                                           : uniform(rng, 0.25, 0.45));
        const double aspect = type == 0 ? 1 / 1.586 : type == 1 ? uniform(rng, 0.65, 0.8) : 0.48;
        for (int attempt = 0; attempt < 40; ++attempt) {
            const cv::Point2d centre(uniform(rng, 0, size.width), uniform(rng, 0, size.height));
            if (cv::pointPolygonTest(sheetPolygon, cv::Point2f(centre), true) > -0.15 * longSide) {
                continue;
            }
            const Corners c = rectangleCorners(centre, longSide * aspect, longSide, uniform(rng, -40, 40));
            cv::Mat mask(size, CV_8U, cv::Scalar(0));
            cv::fillConvexPoly(mask, fixedPolygon(c), cv::Scalar(255), cv::LINE_AA, 4);
            cv::Mat coverage;
            mask.convertTo(coverage, CV_32F, 1.0 / 255);
            // Dark, or saturated: one channel high, the others low.
            auto colourful = [&] {
                cv::Scalar colour = randomColour(rng, 20, 90);
                colour[int(rng() % 3)] = uniform(rng, 150, 230);
                return colour;
            };
            cv::Mat object(size, CV_32FC3, type == 1 ? colourful() : cv::Scalar::all(uniform(rng, 12, 60)));
            if (type != 0) {
                // A title block on a book, the display of a phone.
                const double inner = type == 1 ? uniform(rng, 0.4, 0.7) : 0.88;
                const Corners d = rectangleCorners(centre, longSide * aspect * inner, longSide * inner * 0.9,
                                                   std::atan2(c[1].y - c[0].y, c[1].x - c[0].x) * 180 / CV_PI);
                cv::fillConvexPoly(object, fixedPolygon(d), rng() % 2 ? colourful() : randomColour(rng, 5, 70),
                                   cv::LINE_AA, 4);
            }
            blend(frame, object, coverage);
            break;
        }
    }
}

// A hard-edged shadow of something held above: a wavy boundary through the sheet.
cv::Mat castShadow(Rng& rng, cv::Size size, const Corners& sheet) {
    const cv::Point2d centre = (sheet[0] + sheet[1] + sheet[2] + sheet[3]) * 0.25;
    const cv::Point2d through = centre + (sheet[rng() % 4] - centre) * uniform(rng, 0.1, 0.7);
    const double angle = uniform(rng, 0, 2 * CV_PI);
    const cv::Point2d normal(std::cos(angle), std::sin(angle));
    const double wave = uniform(rng, 0.0, 0.03) * size.height, period = uniform(rng, 0.2, 0.6) * size.height;
    cv::Mat shade(size, CV_32F);
    for (int y = 0; y < size.height; ++y) {
        float* row = shade.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            const cv::Point2d v = cv::Point2d(x, y) - through;
            const double along = v.x * -normal.y + v.y * normal.x;
            row[x] = v.dot(normal) + wave * std::sin(along / period * 2 * CV_PI) > 0 ? 1.0f : 0.0f;
        }
    }
    cv::GaussianBlur(shade, shade, cv::Size(), uniform(rng, 0.002, 0.008) * size.height);
    return shade * uniform(rng, 0.35, 0.55);
}

cv::Mat jpegRoundTrip(const cv::Mat& bgr, int quality) {
    const QImage image(bgr.data, bgr.cols, bgr.rows, int(bgr.step), QImage::Format_BGR888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    const QImage decoded = QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_BGR888);
    cv::Mat out(decoded.height(), decoded.width(), CV_8UC3);
    for (int y = 0; y < decoded.height(); ++y) {
        std::copy_n(decoded.constScanLine(y), out.cols * 3, out.ptr(y));
    }
    return out;
}

}  // namespace

Scene renderScene(const SceneParameters& p) {
    Rng rng(p.seed);
    cv::setRNGSeed(int(p.seed));  // the noise images come from OpenCV's own generator
    Scene scene;
    cv::Mat frame = background(rng, p);
    const Corners corners = placeSheet(rng, p);
    scene.corners = corners;
    darkObjects(rng, frame, corners, p.darkObjects);

    // The sheet at a little more than its size in the frame, so the warp mostly shrinks it; a
    // close-up's sheet at no more than the frame needs.
    const double side = std::max(cv::norm(corners[1] - corners[0]), cv::norm(corners[3] - corners[0]));
    const double cap = 1.6 * std::max(p.frame.width, p.frame.height);
    const int texHeight = std::max(64, int(std::min(side * 1.3, cap) / std::max(1.0, p.pageAspect)));
    const cv::Size tex(std::max(48, int(texHeight * p.pageAspect)), texHeight);
    Sheet sheet = drawSheet(rng, tex, p.drawing, p.curledCorners);
    scene.strokes = std::move(sheet.strokes);

    cv::Point2f from[4] = {{-0.5f, -0.5f},
                           {tex.width - 0.5f, -0.5f},
                           {tex.width - 0.5f, tex.height - 0.5f},
                           {-0.5f, tex.height - 0.5f}};
    cv::Point2f to[4];
    for (int i = 0; i < 4; ++i) to[i] = cv::Point2f(float(corners[i].x - 0.5), float(corners[i].y - 0.5));
    const cv::Mat h = cv::getPerspectiveTransform(from, to);
    cv::Mat warped, alpha, ink;
    cv::warpPerspective(sheet.paper, warped, h, p.frame, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpPerspective(sheet.alpha, alpha, h, p.frame, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpPerspective(sheet.ink, ink, h, p.frame, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    // Coverage from the exact outline, anti-aliased, so the sheet's border sits where the corners say.
    cv::Mat outline(p.frame, CV_8U, cv::Scalar(0)), coverage;
    cv::fillConvexPoly(outline, fixedPolygon(corners), cv::Scalar(255), cv::LINE_AA, 4);
    outline.convertTo(coverage, CV_32F, 1.0 / 255);
    coverage = coverage.mul(alpha);
    if (p.withPage) {
        blend(frame, warped, coverage);
        scene.ink = (ink > 127) & (coverage > 0.5);
    } else {
        scene.ink = cv::Mat(p.frame, CV_8U, cv::Scalar(0));
    }

    if (p.thumb && p.withPage) {
        const int side_index = int(rng() % 4);
        const cv::Point2d a = corners[side_index], b = corners[(side_index + 1) % 4];
        const cv::Point2d at = a + (b - a) * uniform(rng, 0.3, 0.7);
        const double size = 0.06 * p.frame.height * uniform(rng, 0.8, 1.3);
        const double angle = std::atan2(b.y - a.y, b.x - a.x) * 180 / CV_PI + 90;
        const cv::RotatedRect thumb(at, cv::Size2f(float(size * 0.9), float(size * 1.8)), float(angle));
        cv::ellipse(frame, thumb,
                    cv::Scalar(uniform(rng, 100, 140), uniform(rng, 140, 170), uniform(rng, 190, 225)),
                    cv::FILLED, cv::LINE_AA);
        cv::ellipse(scene.ink, thumb, cv::Scalar(0), cv::FILLED);
    }

    // Light: a gradient in a random direction and some vignetting.
    cv::Mat light(p.frame, CV_32F);
    const double dir = uniform(rng, 0, 2 * CV_PI);
    const cv::Point2d d(std::cos(dir), std::sin(dir));
    for (int y = 0; y < p.frame.height; ++y) {
        float* row = light.ptr<float>(y);
        for (int x = 0; x < p.frame.width; ++x) {
            const cv::Point2d u(double(x) / p.frame.width - 0.5, double(y) / p.frame.height - 0.5);
            const double along = u.dot(d) + 0.5;
            row[x] = float((1.0 - p.lightGradient * along) * (1.0 - 0.35 * u.dot(u)));
        }
    }
    if (p.shadow) {
        // A soft shadow over one side of the sheet, like an arm or the phone held above it.
        const cv::Point2d c0 = corners[rng() % 4];
        const cv::Point2d centre = (corners[0] + corners[1] + corners[2] + corners[3]) * 0.25;
        const cv::Point2d at = c0 + (centre - c0) * uniform(rng, 0.2, 0.5);
        const double r = 0.35 * cv::norm(corners[2] - corners[0]);
        cv::Mat mask(p.frame, CV_8U, cv::Scalar(0));
        cv::ellipse(mask,
                    cv::RotatedRect(at, cv::Size2f(float(r * 1.6), float(r)), float(uniform(rng, 0, 180))),
                    cv::Scalar(255), cv::FILLED, cv::LINE_AA);
        scene.shadowMask = mask;
        cv::Mat soft;
        mask.convertTo(soft, CV_32F, 1.0 / 255);
        cv::GaussianBlur(soft, soft, cv::Size(), 0.012 * p.frame.height);
        light = light.mul(1.0 - soft * uniform(rng, 0.3, 0.45));
    }
    if (p.castShadow) {
        light = light.mul(1.0 - castShadow(rng, p.frame, corners));
    }
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
    frame = frame.mul(light3);

    if (p.blur > 0) {
        cv::GaussianBlur(frame, frame, cv::Size(), p.blur);
    }
    if (p.motionBlur >= 1) {
        const int n = int(std::ceil(p.motionBlur)) | 1;
        cv::Mat kernel(n, n, CV_32F, cv::Scalar(0));
        const double a = uniform(rng, 0, CV_PI);
        const cv::Point2d half(std::cos(a) * p.motionBlur / 2, std::sin(a) * p.motionBlur / 2);
        const cv::Point2d mid(n / 2, n / 2);
        cv::line(kernel, mid - half, mid + half, cv::Scalar(1), 1, cv::LINE_AA);
        kernel /= cv::sum(kernel)[0];
        cv::filter2D(frame, frame, -1, kernel);
    }
    cv::Mat noise(p.frame, CV_32FC3);
    cv::randn(noise, 0, p.noise);
    frame += noise;
    frame.convertTo(scene.image, CV_8UC3);
    if (p.jpegQuality > 0) {
        scene.image = jpegRoundTrip(scene.image, p.jpegQuality);
    }
    return scene;
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::desk:
            return "desk";
        case Kind::drawnBoxes:
            return "drawn boxes";
        case Kind::textBlocks:
            return "text blocks";
        case Kind::darkObjects:
            return "dark objects";
        case Kind::closeUp:
            return "close-up";
        case Kind::curledCorners:
            return "curled corners";
        case Kind::harshLight:
            return "harsh light";
        case Kind::jpegAndBlur:
            return "jpeg and blur";
    }
    return "?";
}

SceneParameters sceneOfKind(Kind kind, int index, cv::Size frame, std::uint32_t seedBase) {
    const std::uint32_t key = (seedBase * 8u + std::uint32_t(kind)) * 100003u + std::uint32_t(index);
    Rng rng(key * 2654435761u + 7u);
    SceneParameters p;
    p.frame = frame;
    p.seed = key + 1000u;
    p.background = Background(rng() % 6);
    p.drawing = rng() % 2 ? Drawing::sketch : Drawing::shapes;
    const double aspects[] = {1.0 / 1.4142, 1.4142, 8.5 / 11, 11 / 8.5, 0.9};
    p.pageAspect = aspects[rng() % 5];
    p.pageHeight = uniform(rng, 0.4, 0.92);
    p.centre = {0.5 + uniform(rng, -0.12, 0.12), 0.5 + uniform(rng, -0.08, 0.08)};
    p.rotation = uniform(rng, -30, 30);
    p.perspective = uniform(rng, 0.0, 0.1);
    p.lightGradient = uniform(rng, 0.0, 0.45);
    p.shadow = rng() % 10 < 3;
    p.thumb = rng() % 10 < 3;
    p.blur = uniform(rng, 0.4, 1.6);
    p.noise = uniform(rng, 1.5, 6.0);
    switch (kind) {
        case Kind::desk:
            break;
        case Kind::drawnBoxes:
            p.drawing = rng() % 2 ? Drawing::frames : Drawing::shapes;
            p.pageHeight = uniform(rng, 0.55, 0.95);
            break;
        case Kind::textBlocks:
            p.drawing = Drawing::text;
            p.background = std::array{Background::clutter, Background::foliage, Background::wood,
                                      Background::cloth}[rng() % 4];
            p.pageHeight = uniform(rng, 0.55, 0.95);
            break;
        case Kind::darkObjects:
            p.darkObjects = 1 + int(rng() % 3);
            p.pageHeight = uniform(rng, 0.4, 0.75);
            break;
        case Kind::closeUp:
            p.drawing = std::array{Drawing::shapes, Drawing::frames, Drawing::sketch}[rng() % 3];
            p.coverage = uniform(rng, 0.85, 1.08);  // above 1: nothing but paper in view
            p.centre = {0.5 + uniform(rng, -0.1, 0.1), 0.5 + uniform(rng, -0.1, 0.1)};
            p.rotation = uniform(rng, -12, 12);
            p.perspective = uniform(rng, 0.0, 0.06);
            p.lightGradient = uniform(rng, 0.2, 0.5);
            p.shadow = rng() % 10 < 4;
            p.thumb = false;
            break;
        case Kind::curledCorners:
            p.curledCorners = 1 + int(rng() % 2);
            break;
        case Kind::harshLight:
            p.lightGradient = uniform(rng, 0.45, 0.7);
            p.castShadow = true;
            p.shadow = rng() % 2;
            break;
        case Kind::jpegAndBlur:
            p.jpegQuality = int(uniform(rng, 12, 45));
            p.blur = uniform(rng, 1.2, 2.8);
            p.motionBlur = rng() % 2 ? uniform(rng, 2, 7) : 0.0;
            p.noise = uniform(rng, 3, 8);
            break;
    }
    return p;
}

double pageIoU(const Corners& found, const Corners& truth, cv::Size frame) {
    const Polygon rect = {{0, 0}, {double(frame.width), 0}, {double(frame.width), double(frame.height)},
                          {0, double(frame.height)}};
    const Polygon a = clipConvex({found.begin(), found.end()}, rect);
    const Polygon b = clipConvex({truth.begin(), truth.end()}, rect);
    const double areaA = polygonArea(a), areaB = polygonArea(b);
    const double inter = std::min({polygonArea(clipConvex(a, b)), areaA, areaB});
    const double uni = areaA + areaB - inter;
    return uni > 0 ? inter / uni : 0.0;
}

double inkKept(const Corners& outline, const cv::Mat& ink) {
    const int total = cv::countNonZero(ink);
    if (total == 0) {
        return 1.0;
    }
    cv::Mat mask(ink.size(), CV_8U, cv::Scalar(0));
    cv::fillConvexPoly(mask, fixedPolygon(outline), cv::Scalar(255), cv::LINE_8, 4);
    return double(cv::countNonZero(ink & mask)) / total;
}

}  // namespace vellumora::synthetic
