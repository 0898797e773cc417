#include "camera/views/quad_overlay.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>

namespace vellumora {

namespace {

const QColor kFoundColour(255, 204, 0, 217);  // yellow at 85 %
const QColor kHoldColour(52, 199, 89);        // green

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(
        float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
        float(a.blueF() + (b.blueF() - a.blueF()) * t), float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

}  // namespace

QuadOverlay::QuadOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    highlight_.setDuration(150);
    highlight_.setEasingCurve(QEasingCurve::OutCubic);
    highlight_.setStartValue(0.0);
    highlight_.setEndValue(1.0);
    connect(&highlight_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void QuadOverlay::setQuad(const std::optional<Quad>& quad) {
    quad_ = quad;
    update();
}

void QuadOverlay::setImageSize(QSize imageSize) {
    imageSize_ = imageSize;
    update();
}

void QuadOverlay::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_) {
        return;
    }
    highlighted_ = highlighted;
    const double from = highlight_.state() == QAbstractAnimation::Running
                            ? highlight_.currentValue().toDouble()
                            : (highlighted ? 0.0 : 1.0);
    highlight_.stop();
    highlight_.setStartValue(from);
    highlight_.setEndValue(highlighted ? 1.0 : 0.0);
    highlight_.start();
}

QPolygonF QuadOverlay::mapToView(const Quad& quad, QSizeF imageSize, QSizeF viewSize) {
    if (imageSize.width() <= 0 || imageSize.height() <= 0 || viewSize.width() <= 0 ||
        viewSize.height() <= 0) {
        return {};
    }
    const double imageAspect = imageSize.width() / imageSize.height();
    double width, height, x0 = 0, y0 = 0;
    if (viewSize.width() / viewSize.height() >= imageAspect) {
        height = viewSize.height();
        width = imageAspect * height;
        x0 = (viewSize.width() - width) / 2;
    } else {
        width = viewSize.width();
        height = width / imageAspect;
        y0 = (viewSize.height() - height) / 2;
    }
    QPolygonF polygon;
    for (const QPointF& p : quad.clockwise()) {
        polygon << QPointF(x0 + p.x() / imageSize.width() * width, y0 + p.y() / imageSize.height() * height);
    }
    return polygon;
}

void QuadOverlay::paintEvent(QPaintEvent*) {
    if (!quad_) {
        return;
    }
    const QPolygonF polygon = mapToView(*quad_, QSizeF(imageSize_), QSizeF(size()));
    if (polygon.isEmpty()) {
        return;
    }
    const double t = highlight_.state() == QAbstractAnimation::Running ? highlight_.currentValue().toDouble()
                                                                       : (highlighted_ ? 1.0 : 0.0);
    const double width = 2.0 + t;
    QPainterPath path;
    path.addPolygon(polygon);
    path.closeSubpath();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A soft dark halo keeps the outline readable on a bright page.
    for (const auto& [extra, alpha] : {std::pair{4.0, 0.2}, std::pair{2.0, 0.35}}) {
        QPen halo(QColor::fromRgbF(0, 0, 0, float(alpha)), width + extra, Qt::SolidLine, Qt::FlatCap,
                  Qt::RoundJoin);
        painter.strokePath(path, halo);
    }
    QPen pen(mix(kFoundColour, kHoldColour, t), width, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    painter.strokePath(path, pen);
}

}  // namespace vellumora
