#include "pages/page_library.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "support/qt_printers.h"

namespace vellumora {
namespace {

constexpr int kSide = PageLibrary::kPageSide;

QImage drawing(int index) {
    const std::optional<QByteArray>& png = PageLibrary::builtIn().at(index).imageData;
    return png ? QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_ARGB32) : QImage();
}

// Share of clearly inked pixels, from `minRadius` out, that the map sends where there is no ink.
double asymmetry(const QImage& image, const std::function<QPointF(QPointF)>& map, double minRadius = 0) {
    int inked = 0, missed = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            if (qAlpha(image.pixel(x, y)) < 200 || std::hypot(x - kSide / 2.0, y - kSide / 2.0) < minRadius)
                continue;
            const QPointF q = map(QPointF(x + 0.5, y + 0.5));
            int best = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    best = std::max(best, qAlpha(image.pixel(int(q.x()) + dx, int(q.y()) + dy)));
            ++inked;
            missed += best < 100 ? 1 : 0;
        }
    return double(missed) / inked;
}

std::function<QPointF(QPointF)> rotation(double degrees) {
    return [a = degrees * std::numbers::pi / 180](QPointF p) {
        const QPointF d = p - QPointF(kSide / 2.0, kSide / 2.0);
        return QPointF(kSide / 2.0 + d.x() * std::cos(a) - d.y() * std::sin(a),
                       kSide / 2.0 + d.x() * std::sin(a) + d.y() * std::cos(a));
    };
}

TEST(PageLibrary, listsBlankPaperAndTheThreeDrawingsAsTransparentSquaresInTheInkColour) {
    const QList<CurrentPage> pages = PageLibrary::builtIn();
    ASSERT_EQ(pages.size(), 4);
    const QStringList ids{"blank", "mandala", "flower", "cottage"};
    const QStringList names{"Blank Paper", "Mandala", "Tulip", "Cottage"};
    const QRgb ink =
        QColor::fromRgbF(PageLibrary::kInkRed, PageLibrary::kInkGreen, PageLibrary::kInkBlue).rgb();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pages[i].pageId, ids[i]);
        EXPECT_EQ(pages[i].displayName, names[i]);
        EXPECT_EQ(pages[i].imageData.has_value(), i != 0);
        if (i == 0) continue;
        const QImage image = drawing(i);
        ASSERT_EQ(image.size(), QSize(kSide, kSide));
        int inked = 0, offColour = 0;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const QRgb px = image.pixel(x, y);
                inked += qAlpha(px) > 0 ? 1 : 0;
                offColour += qAlpha(px) > 0 && (px | 0xFF000000) != ink ? 1 : 0;
            }
        EXPECT_EQ(offColour, 0) << names[i].toStdString();
        EXPECT_GT(inked, kSide * 10) << names[i].toStdString();
        EXPECT_LT(inked, kSide * kSide / 4) << names[i].toStdString();  // mostly transparent
    }
}

TEST(PageLibrary, mandalaIsTwelveFoldSymmetric) {
    const QImage image = drawing(1);
    EXPECT_LT(asymmetry(image, [](QPointF p) { return QPointF(p.x(), kSide - p.y()); }), 0.005);
    // The six inner circles repeat every 60°, everything else every 30°.
    EXPECT_LT(asymmetry(image, rotation(30), 0.1 * kSide), 0.005);
    EXPECT_LT(asymmetry(image, rotation(60)), 0.005);
}

TEST(PageLibrary, tulipStrokesHaveTheirLineWidths) {
    const QImage image = drawing(2);
    // The ink met along a line across a stroke, one sample per pixel, as a share of the side.
    const auto width = [&](QPointF from, QPointF to) {
        from *= kSide;
        to *= kSide;
        const int steps = int(std::round(std::hypot(to.x() - from.x(), to.y() - from.y())));
        double sum = 0;
        for (int i = 0; i <= steps; ++i) {
            const QPointF p = from + (to - from) * (double(i) / steps);
            sum += qAlpha(image.pixel(int(p.x()), int(p.y()))) / 255.0;
        }
        return sum / kSide;
    };
    // Ground waves are flat halfway between their joins; blades are upright; so is the sun's
    // circle beside its centre.
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(width({0.06 + 0.12 * k, 0.805}, {0.06 + 0.12 * k, 0.825}), 0.0055, 0.0003)
            << "wave " << k;
    for (const double x : {0.12, 0.24, 0.70, 0.82, 0.92})
        EXPECT_NEAR(width({x - 0.004, 0.8078}, {x + 0.004, 0.8078}), 0.0035, 0.0003) << "blade at " << x;
    EXPECT_NEAR(width({0.76, 0.14}, {0.78, 0.14}), 0.0045, 0.0003) << "sun";
}

TEST(PageLibrary, cottageWindowIsAGridOfFourPanesAndItsBushesHangBelowTheirCentres) {
    const QImage image = drawing(3);
    const auto alpha = [&](double x, double y) {
        return qAlpha(image.pixel(int(x * kSide), int(y * kSide)));
    };
    // Frame and cross at 0.34, 0.39, 0.44 across and 0.49, 0.54, 0.59 down; the panes empty.
    for (int i = 0; i < 3; ++i)
        for (const double through : {0.515, 0.565}) {
            EXPECT_GE(alpha(0.34 + 0.05 * i, through), 128) << i;
            EXPECT_GE(alpha(through - 0.15, 0.49 + 0.05 * i), 128) << i;
        }
    for (const double x : {0.355, 0.375, 0.405, 0.425})
        for (const double y : {0.505, 0.525, 0.555, 0.575}) EXPECT_EQ(alpha(x, y), 0) << x << ", " << y;
    EXPECT_GE(alpha(0.14, 0.785), 128);
    EXPECT_EQ(alpha(0.14, 0.725), 0);
}

}  // namespace
}  // namespace vellumora
