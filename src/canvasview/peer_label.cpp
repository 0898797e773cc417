#include "canvasview/peer_label.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "ui/styles.h"

namespace vellumora {

QImage paintPeerLabel(const QString& name, const QColor& color, qreal ratio) {
    const QFont font = ui::font(ui::TextStyle::caption, QFont::DemiBold);
    const QFontMetricsF metrics(font);
    // Long names are cut: the label must not cover the page.
    const QString text = metrics.elidedText(name, Qt::ElideRight, metrics.height() * 12);
    const qreal padX = metrics.height() * 0.45;
    const qreal padY = metrics.height() * 0.12;
    const QSizeF size(metrics.horizontalAdvance(text) + 2 * padX, metrics.height() + 2 * padY);
    QImage image(QSize(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio))),
                 QImage::Format_RGBA8888_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath pill;
    pill.addRoundedRect(QRectF(QPointF(0, 0), size), size.height() / 2, size.height() / 2);
    painter.fillPath(pill, color);
    // Dark text on the lighter colours a peer may have, white on the others.
    const bool light = 0.299 * color.redF() + 0.587 * color.greenF() + 0.114 * color.blueF() > 0.6;
    painter.setPen(light ? QColor(20, 20, 24) : Qt::white);
    painter.setFont(font);
    painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, text);
    return image;
}

}  // namespace vellumora
