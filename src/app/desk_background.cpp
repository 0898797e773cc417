#include "app/desk_background.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

DeskBackground::DeskBackground(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DeskBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui::deskGradient(rect()));

    const double inner = ui::ptF(60);
    const double outer = ui::ptF(520);
    QRadialGradient light(QRectF(rect()).center(), outer);
    light.setColorAt(0, QColor(255, 255, 255, 15));
    light.setColorAt(inner / outer, QColor(255, 255, 255, 15));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(rect(), light);
}

}  // namespace vellumora
