#include "ui/busy_spinner.h"

#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace vellumora::ui {

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_.setInterval(16);
    connect(&timer_, &QTimer::timeout, this, [this] {
        turn_ = std::fmod(turn_ + 1.0 / 60.0, 1.0);
        update();
    });
}

void BusySpinner::setColor(const QColor& color) {
    color_ = color;
    update();
}

void BusySpinner::setDiameter(int diameter) {
    diameter_ = diameter;
    updateGeometry();
    update();
}

QSize BusySpinner::sizeHint() const {
    return {diameter_, diameter_};
}

void BusySpinner::paintFrame(QPainter& painter, const QRectF& rect, const QColor& color, double turn) {
    const double width = std::max(1.5, rect.width() / 8.0);
    const QRectF ring = rect.adjusted(width / 2, width / 2, -width / 2, -width / 2);
    QConicalGradient sweep(ring.center(), -turn * 360.0);
    QColor clear = color;
    clear.setAlphaF(0);
    sweep.setColorAt(0.0, color);
    sweep.setColorAt(0.85, clear);
    sweep.setColorAt(1.0, clear);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QBrush(sweep), width, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, static_cast<int>(-turn * 360.0 * 16), static_cast<int>(-290 * 16));
    painter.restore();
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int side = std::min({width(), height(), diameter_});
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    paintFrame(painter, square, color_, turn_);
}

void BusySpinner::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void BusySpinner::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

}  // namespace vellumora::ui
