#include "pages/page_library.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QThreadPool>

#include <cmath>
#include <numbers>

#include "lineart/line_art_extractor.h"

namespace vellumora::PageLibrary {

namespace {

// Draws in fractions of the page side s, y downwards. Paths are stroked with the current line
// width, round caps and round joins; rectangles are stroked at once.
class Ink {
  public:
    Ink(QPainter& painter, double side) : painter_(painter), s_(side) {
        pen_.setColor(Qt::black);
        pen_.setWidthF(0.004 * s_);
        pen_.setCapStyle(Qt::RoundCap);
        pen_.setJoinStyle(Qt::RoundJoin);
        painter_.setPen(pen_);
        painter_.setBrush(Qt::NoBrush);
        painter_.setRenderHint(QPainter::Antialiasing);
    }

    QPointF at(double x, double y) const { return {x * s_, y * s_}; }
    QPointF at(QPointF p) const { return p * s_; }

    void lineWidth(double fraction) {
        pen_.setWidthF(fraction * s_);
        painter_.setPen(pen_);
    }
    void stroke(const QPainterPath& path) { painter_.drawPath(path); }
    void rectangle(double x, double y, double width, double height) {
        painter_.drawRect(QRectF(x * s_, y * s_, width * s_, height * s_));
    }
    void circle(QPainterPath& path, QPointF centre, double radius) const {
        path.addEllipse(at(centre), radius * s_, radius * s_);
    }
    // The half below the centre: from (cx − r, cy) through (cx, cy + r) to (cx + r, cy).
    void lowerHalfCircle(QPointF centre, double radius) {
        const QRectF box(at(centre.x() - radius, centre.y() - radius),
                         QSizeF(2 * radius * s_, 2 * radius * s_));
        QPainterPath path;
        path.arcMoveTo(box, 180);
        path.arcTo(box, 180, 180);  // Qt's angles run counter-clockwise on screen
        stroke(path);
    }

  private:
    QPainter& painter_;
    double s_;
    QPen pen_;
};

QPointF polar(QPointF centre, double radius, double angle) {
    return centre + radius * QPointF(std::cos(angle), std::sin(angle));
}

QPointF midpoint(QPointF a, QPointF b) {
    return (a + b) / 2;
}

void drawMandala(Ink& ink) {
    const QPointF c(0.5, 0.5);
    ink.lineWidth(0.0045);
    for (int k = 1; k <= 6; ++k) {
        QPainterPath ring;
        ink.circle(ring, c, 0.07 * k);
        ink.stroke(ring);
    }
    for (int i = 0; i < 12; ++i) {
        const double theta = i * 2 * std::numbers::pi / 12;
        const QPointF u(std::cos(theta), std::sin(theta));
        const QPointF n(-std::sin(theta), std::cos(theta));

        QPainterPath spoke(ink.at(c + 0.14 * u));
        spoke.lineTo(ink.at(c + 0.44 * u));
        ink.stroke(spoke);

        const QPointF a = c + 0.18 * u + 0.028 * n;
        const QPointF tip = c + 0.30 * u;
        const QPointF b = c + 0.18 * u - 0.028 * n;
        QPainterPath petal(ink.at(a));
        petal.quadTo(ink.at(midpoint(a, tip) + 0.012 * n), ink.at(tip));
        petal.quadTo(ink.at(midpoint(tip, b) - 0.012 * n), ink.at(b));
        ink.stroke(petal);

        QPainterPath dot;
        ink.circle(dot, c + 0.47 * u, 0.018);
        ink.stroke(dot);
    }
    ink.lineWidth(0.003);
    for (int k = 0; k < 6; ++k) {
        QPainterPath circle;
        ink.circle(circle, polar(c, 0.06, k * std::numbers::pi / 3), 0.022);
        ink.stroke(circle);
    }
    QPainterPath centre;
    ink.circle(centre, c, 0.018);
    ink.stroke(centre);
}

void drawFlower(Ink& ink) {
    ink.lineWidth(0.0055);
    QPainterPath ground(ink.at(0, 0.82));
    for (int i = 0; i < 9; ++i) {  // x = 0, 0.12, … while x < 1; the last wave ends off the page
        const double x = 0.12 * i;
        ground.quadTo(ink.at(x + 0.06, 0.808), ink.at(x + 0.12, 0.82));
    }
    ink.stroke(ground);

    QPainterPath stem(ink.at(0.5, 0.82));
    stem.cubicTo(ink.at(0.47, 0.68), ink.at(0.53, 0.52), ink.at(0.5, 0.40));
    ink.stroke(stem);

    QPainterPath leaf(ink.at(0.498, 0.60));
    leaf.quadTo(ink.at(0.36, 0.48), ink.at(0.32, 0.54));
    leaf.quadTo(ink.at(0.40, 0.62), ink.at(0.498, 0.62));
    ink.stroke(leaf);

    QPainterPath middle(ink.at(0.5, 0.40));
    middle.cubicTo(ink.at(0.44, 0.35), ink.at(0.46, 0.22), ink.at(0.5, 0.20));
    middle.cubicTo(ink.at(0.54, 0.22), ink.at(0.56, 0.35), ink.at(0.5, 0.40));
    ink.stroke(middle);

    QPainterPath left(ink.at(0.465, 0.40));
    left.cubicTo(ink.at(0.40, 0.36), ink.at(0.38, 0.30), ink.at(0.40, 0.25));
    left.cubicTo(ink.at(0.42, 0.22), ink.at(0.46, 0.24), ink.at(0.488, 0.27));
    ink.stroke(left);

    QPainterPath right(ink.at(0.535, 0.40));
    right.cubicTo(ink.at(0.60, 0.36), ink.at(0.62, 0.30), ink.at(0.60, 0.25));
    right.cubicTo(ink.at(0.58, 0.22), ink.at(0.54, 0.24), ink.at(0.512, 0.27));
    ink.stroke(right);

    ink.lineWidth(0.0035);
    for (const double x0 : {0.12, 0.24, 0.70, 0.82, 0.92}) {
        for (const int side : {-1, 0, 1}) {
            QPainterPath blade(ink.at(x0 + side * 0.006, 0.82));
            blade.quadTo(ink.at(x0 + side * 0.009, 0.808), ink.at(x0 + side * 0.012, 0.795));
            ink.stroke(blade);
        }
    }

    ink.lineWidth(0.0045);
    const QPointF sun(0.82, 0.14);
    QPainterPath rays;
    ink.circle(rays, sun, 0.05);
    for (int k = 0; k < 8; ++k) {
        const double alpha = k * std::numbers::pi / 4;
        rays.moveTo(ink.at(polar(sun, 0.065, alpha)));
        rays.lineTo(ink.at(polar(sun, 0.095, alpha)));
    }
    ink.stroke(rays);
}

void drawCottage(Ink& ink) {
    ink.lineWidth(0.0055);
    QPainterPath ground(ink.at(0, 0.78));
    ground.lineTo(ink.at(1, 0.78));
    ink.stroke(ground);

    ink.rectangle(0.30, 0.44, 0.40, 0.34);  // house
    QPainterPath roof(ink.at(0.28, 0.44));
    roof.lineTo(ink.at(0.50, 0.26));
    roof.lineTo(ink.at(0.72, 0.44));
    ink.stroke(roof);
    ink.rectangle(0.60, 0.32, 0.04, 0.08);    // chimney
    ink.rectangle(0.468, 0.61, 0.064, 0.17);  // door
    QPainterPath knob;
    ink.circle(knob, {0.5205, 0.695}, 0.005);
    ink.stroke(knob);

    ink.rectangle(0.34, 0.49, 0.10, 0.10);  // window and its cross
    QPainterPath cross(ink.at(0.39, 0.49));
    cross.lineTo(ink.at(0.39, 0.59));
    cross.moveTo(ink.at(0.34, 0.54));
    cross.lineTo(ink.at(0.44, 0.54));
    ink.stroke(cross);

    ink.rectangle(0.782, 0.62, 0.036, 0.16);  // tree trunk
    QPainterPath crown;
    ink.circle(crown, {0.80, 0.54}, 0.10);
    ink.stroke(crown);

    ink.lineWidth(0.0045);
    for (const QPointF bush : {QPointF(0.08, 0.755), QPointF(0.14, 0.755), QPointF(0.21, 0.755)}) {
        ink.lowerHalfCircle(bush, 0.03);
    }
    struct Cloud {
        QPointF centre;
        double radius;
    };
    for (const Cloud& cloud : {Cloud{{0.18, 0.18}, 0.05}, Cloud{{0.25, 0.16}, 0.04},
                               Cloud{{0.72, 0.10}, 0.045}, Cloud{{0.79, 0.12}, 0.038}}) {
        ink.lowerHalfCircle(cloud.centre, cloud.radius);
    }

    ink.lineWidth(0.0035);
    QPainterPath grass(ink.at(0.50, 0.78));
    grass.cubicTo(ink.at(0.50, 0.83), ink.at(0.45, 0.76), ink.at(0.42, 0.78));
    ink.stroke(grass);
    QPainterPath blade(ink.at(0.53, 0.78));
    blade.cubicTo(ink.at(0.53, 0.83), ink.at(0.52, 0.76), ink.at(0.50, 0.78));
    ink.stroke(blade);
}

// The drawing's coverage is painted first and coloured after, so that every pixel, also on the
// anti-aliased edges, carries exactly the ink colour and only its alpha varies.
std::optional<QByteArray> render(void (*draw)(Ink&)) {
    QImage coverage(kPageSide, kPageSide, QImage::Format_Alpha8);
    QImage page(kPageSide, kPageSide, QImage::Format_ARGB32);
    if (coverage.isNull() || page.isNull()) {
        return std::nullopt;
    }
    coverage.fill(0);
    {
        QPainter painter(&coverage);
        Ink ink(painter, kPageSide);
        draw(ink);
    }
    const QColor inkColor = QColor::fromRgbF(kInkRed, kInkGreen, kInkBlue);
    for (int y = 0; y < kPageSide; ++y) {
        const uchar* alpha = coverage.constScanLine(y);
        auto* line = reinterpret_cast<QRgb*>(page.scanLine(y));
        for (int x = 0; x < kPageSide; ++x) {
            line[x] = qRgba(inkColor.red(), inkColor.green(), inkColor.blue(), alpha[x]);
        }
    }
    return LineArtExtractor::pngData(page);
}

}  // namespace

QList<CurrentPage> builtIn() {
    static const QList<CurrentPage> pages{
        {QStringLiteral("blank"), QStringLiteral("Blank Paper"), std::nullopt},
        {QStringLiteral("mandala"), QStringLiteral("Mandala"), render(drawMandala)},
        {QStringLiteral("flower"), QStringLiteral("Tulip"), render(drawFlower)},
        {QStringLiteral("cottage"), QStringLiteral("Cottage"), render(drawCottage)},
    };
    return pages;
}

void prepareInBackground() {
    QThreadPool::globalInstance()->start([] { builtIn(); });
}

}  // namespace vellumora::PageLibrary
