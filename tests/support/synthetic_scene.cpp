#include "support/synthetic_scene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>

namespace vellumora::synthetic {

namespace {

using Rng = std::mt19937;

double uniform(Rng& rng, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
}

// Smooth random field in [-1, 1]: noise at `cells` resolution scaled up.
cv::Mat smoothNoise(Rng& rng, cv::Size size, cv::Size cells) {
    cv::Mat coarse(cells, CV_32F);
    cv::randn(coarse, 0.0, 1.0);
    (void)rng;
    cv::Mat f;
    cv::resize(coarse, f, size, 0, 0, cv::INTER_CUBIC);
    return cv::max(cv::min(f / 2.0, 1.0), -1.0);
}

cv::Mat background(Rng& rng, const SceneParameters& p) {
    cv::Mat bg(p.frame, CV_32FC3);
    const cv::Size size = p.frame;
    switch (p.background) {
        case Background::wood: {
            const cv::Scalar base(uniform(rng, 40, 80), uniform(rng, 80, 120), uniform(rng, 130, 175));
            const cv::Mat wobble = smoothNoise(rng, size, {4, 24});
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
            const cv::Scalar base(uniform(rng, 40, 200), uniform(rng, 40, 200), uniform(rng, 40, 200));
            bg.setTo(base);
            cv::Mat weave(size, CV_32FC3);
            cv::randn(weave, 0, 14);
            cv::GaussianBlur(weave, weave, cv::Size(), 1.2);
            bg += weave;
            break;
        }
        case Background::clutter: {
            bg.setTo(cv::Scalar(uniform(rng, 60, 120), uniform(rng, 70, 130), uniform(rng, 80, 140)));
            const int objects = 25 + int(rng() % 20);
            for (int i = 0; i < objects; ++i) {
                const cv::Scalar colour(uniform(rng, 0, 255), uniform(rng, 0, 255), uniform(rng, 0, 255));
                const cv::Point c(int(uniform(rng, 0, size.width)), int(uniform(rng, 0, size.height)));
                const int r = int(uniform(rng, 0.02, 0.12) * size.height);
                switch (rng() % 3) {
                    case 0:
                        cv::circle(bg, c, r, colour, cv::FILLED, cv::LINE_AA);
                        break;
                    case 1:
                        cv::rectangle(bg, c, c + cv::Point(r * 2, int(r * uniform(rng, 0.5, 1.5))), colour,
                                      cv::FILLED, cv::LINE_AA);
                        break;
                    default:
                        cv::line(bg, c,
                                 c + cv::Point(int(uniform(rng, -3, 3) * r), int(uniform(rng, -3, 3) * r)),
                                 colour, std::max(2, r / 6), cv::LINE_AA);
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

std::vector<Stroke> sketchStrokes(Rng& rng) {
    std::vector<Stroke> strokes;
    const int curves = 6 + int(rng() % 6);
    for (int i = 0; i < curves; ++i) {
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
    Stroke circle;
    circle.width = 0.004;
    const cv::Point2d centre(uniform(rng, 0.35, 0.65), uniform(rng, 0.35, 0.65));
    const double r = uniform(rng, 0.1, 0.2);
    for (int k = 0; k <= 60; ++k) {
        circle.points.push_back(centre + r * cv::Point2d(std::cos(k * CV_PI / 30), std::sin(k * CV_PI / 30)));
    }
    strokes.push_back(std::move(circle));
    return strokes;
}

cv::Mat sheet(Rng& rng, cv::Size size, const std::vector<Stroke>& strokes) {
    cv::Mat page(size, CV_32FC3,
                 cv::Scalar(uniform(rng, 225, 240), uniform(rng, 235, 248), uniform(rng, 240, 252)));
    cv::Mat grain(size, CV_32F);
    cv::randn(grain, 0, 3);
    cv::GaussianBlur(grain, grain, cv::Size(), 0.8);
    cv::Mat grain3;
    cv::merge(std::vector<cv::Mat>{grain, grain, grain}, grain3);
    page += grain3;
    const double graphite = uniform(rng, 70, 130);
    for (const Stroke& s : strokes) {
        std::vector<cv::Point> pts;
        for (const auto& p : s.points) {
            pts.emplace_back(int(p.x * size.width * 16), int(p.y * size.height * 16));
        }
        const int thickness = std::max(1, int(std::lround(s.width * size.width)));
        cv::polylines(page, pts, false, cv::Scalar::all(graphite), thickness, cv::LINE_AA, 4);
    }
    return page;
}

std::array<cv::Point2d, 4> placement(Rng& rng, const SceneParameters& p, double heightShare) {
    const double h = heightShare * p.frame.height;
    const double w = h * p.pageAspect;
    const cv::Point2d centre(p.centre.x * p.frame.width, p.centre.y * p.frame.height);
    const double a = p.rotation * CV_PI / 180.0;
    std::array<cv::Point2d, 4> c{
        cv::Point2d(-w / 2, -h / 2), {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}};
    for (auto& v : c) {
        v = cv::Point2d(v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a)) +
            centre;
        const double reach = p.perspective * std::max(w, h);
        v += cv::Point2d(uniform(rng, -reach, reach), uniform(rng, -reach, reach));
    }
    return c;
}

bool inside(const std::array<cv::Point2d, 4>& c, cv::Size frame) {
    const double margin = 0.02 * frame.height;
    return std::all_of(c.begin(), c.end(), [&](cv::Point2d v) {
        return v.x > margin && v.y > margin && v.x < frame.width - margin && v.y < frame.height - margin;
    });
}

}  // namespace

Scene renderScene(const SceneParameters& p) {
    Rng rng(p.seed);
    cv::setRNGSeed(int(p.seed));  // the noise images come from OpenCV's own generator
    Scene scene;
    cv::Mat frame = background(rng, p);

    double share = p.pageHeight;
    std::array<cv::Point2d, 4> corners = placement(rng, p, share);
    for (int i = 0; i < 40 && !inside(corners, p.frame); ++i) {
        share *= 0.95;
        corners = placement(rng, p, share);
    }
    scene.corners = corners;
    scene.strokes = sketchStrokes(rng);

    // The sheet at a little more than its size in the frame, so the warp only shrinks it.
    const double side = std::max(cv::norm(corners[1] - corners[0]), cv::norm(corners[3] - corners[0]));
    const int texHeight = std::max(64, int(side * 1.3 / std::max(1.0, p.pageAspect)));
    const cv::Size tex(std::max(48, int(texHeight * p.pageAspect)), texHeight);
    const cv::Mat page = sheet(rng, tex, scene.strokes);

    cv::Point2f from[4] = {{-0.5f, -0.5f},
                           {tex.width - 0.5f, -0.5f},
                           {tex.width - 0.5f, tex.height - 0.5f},
                           {-0.5f, tex.height - 0.5f}};
    cv::Point2f to[4];
    for (int i = 0; i < 4; ++i) {
        to[i] = cv::Point2f(float(corners[i].x - 0.5), float(corners[i].y - 0.5));
    }
    const cv::Mat h = cv::getPerspectiveTransform(from, to);
    cv::Mat warped, coverage;
    cv::warpPerspective(page, warped, h, p.frame, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    // Coverage from the exact outline, anti-aliased, so the sheet's border sits where the corners say.
    cv::Mat outline(p.frame, CV_8U, cv::Scalar(0));
    std::vector<cv::Point> poly;
    for (const auto& c : corners) {
        poly.emplace_back(int(std::lround((c.x - 0.5) * 16)), int(std::lround((c.y - 0.5) * 16)));
    }
    cv::fillConvexPoly(outline, poly, cv::Scalar(255), cv::LINE_AA, 4);
    outline.convertTo(coverage, CV_32F, 1.0 / 255);
    cv::Mat coverage3;
    cv::merge(std::vector<cv::Mat>{coverage, coverage, coverage}, coverage3);
    if (p.withPage) {
        frame = frame.mul(cv::Scalar::all(1.0) - coverage3) + warped.mul(coverage3);
    }

    if (p.thumb && p.withPage) {
        const int side_index = int(rng() % 4);
        const cv::Point2d a = corners[side_index], b = corners[(side_index + 1) % 4];
        const cv::Point2d at = a + (b - a) * uniform(rng, 0.3, 0.7);
        const double size = 0.06 * p.frame.height * uniform(rng, 0.8, 1.3);
        const double angle = std::atan2(b.y - a.y, b.x - a.x) * 180 / CV_PI + 90;
        cv::ellipse(frame,
                    cv::RotatedRect(at, cv::Size2f(float(size * 0.9), float(size * 1.8)), float(angle)),
                    cv::Scalar(uniform(rng, 100, 140), uniform(rng, 140, 170), uniform(rng, 190, 225)),
                    cv::FILLED, cv::LINE_AA);
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
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
    frame = frame.mul(light3);

    if (p.blur > 0) {
        cv::GaussianBlur(frame, frame, cv::Size(), p.blur);
    }
    cv::Mat noise(p.frame, CV_32FC3);
    cv::randn(noise, 0, p.noise);
    frame += noise;
    frame.convertTo(scene.image, CV_8UC3);
    return scene;
}

SceneParameters variedParameters(int index, cv::Size frame) {
    Rng rng(std::uint32_t(index) * 2654435761u + 7u);
    SceneParameters p;
    p.frame = frame;
    p.seed = std::uint32_t(index) + 1000u;
    p.background = Background(index % 5);
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
    return p;
}

double polygonIoU(const std::array<cv::Point2d, 4>& a, const std::array<cv::Point2d, 4>& b) {
    std::vector<cv::Point2f> pa, pb, overlap;
    for (int i = 0; i < 4; ++i) {
        pa.emplace_back(float(a[i].x), float(a[i].y));
        pb.emplace_back(float(b[i].x), float(b[i].y));
    }
    const double areaA = std::abs(cv::contourArea(pa)), areaB = std::abs(cv::contourArea(pb));
    const double inter = std::abs(double(cv::intersectConvexConvex(pa, pb, overlap, true)));
    const double uni = areaA + areaB - inter;
    return uni > 0 ? inter / uni : 0.0;
}

}  // namespace vellumora::synthetic
