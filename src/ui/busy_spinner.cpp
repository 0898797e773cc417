#include "ui/busy_spinner.h"

#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace vellumora::ui {

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_turn = std::fmod(m_turn + 1.0 / 60.0, 1.0);
        update();
    });
}

void BusySpinner::setColor(const QColor& color) {
    m_color = color;
    update();
}

void BusySpinner::setDiameter(int diameter) {
    m_diameter = diameter;
    updateGeometry();
    update();
}

QSize BusySpinner::sizeHint() const {
    return {m_diameter, m_diameter};
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
    const int side = std::min({width(), height(), m_diameter});
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    paintFrame(painter, square, m_color, m_turn);
}

void BusySpinner::showEvent(QShowEvent* event) {
    m_timer.start();
    QWidget::showEvent(event);
}

void BusySpinner::hideEvent(QHideEvent* event) {
    m_timer.stop();
    QWidget::hideEvent(event);
}

}  // namespace vellumora::ui
