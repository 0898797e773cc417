#include "canvasview/replay_overlay.h"

#include "ui/styles.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace vellumora {

namespace {

constexpr int kBarHeight = 4;

int percent(double progress) {
    return static_cast<int>(std::clamp(progress, 0.0, 1.0) * 100);
}

}  // namespace

QString replayProgressText(double progress) {
    return QStringLiteral("Loading drawing… %1 %").arg(percent(progress));
}

QImage paintReplayOverlay(double progress, QSize viewSize, qreal ratio) {
    const QFont font = ui::font(ui::TextStyle::subheadline, QFont::DemiBold);
    const QFontMetrics metrics(font);
    // Bar, gap, label with its padding, and room for the antialiased edge.
    const QSize size(std::max(viewSize.width(), 1), kBarHeight + 3 * metrics.height() + 2);
    QImage image((QSizeF(size) * ratio).toSize(), QImage::Format_RGBA8888_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A thin bar along the top edge, filled as far as the drawing has been painted.
    painter.fillRect(QRect(0, 0, size.width(), kBarHeight), QColor(0, 0, 0, 60));
    painter.fillRect(QRectF(0, 0, size.width() * std::clamp(progress, 0.0, 1.0), kBarHeight),
                     ui::accentColor());

    const QString label = replayProgressText(progress);
    painter.setFont(font);
    const int padX = metrics.height();
    const int padY = metrics.height() / 2;
    const QSize textSize = metrics.size(Qt::TextSingleLine, label);
    const QRect pill((size.width() - textSize.width()) / 2 - padX, kBarHeight + padY,
                     textSize.width() + 2 * padX, textSize.height() + 2 * padY);
    QPainterPath path;
    path.addRoundedRect(pill, pill.height() / 2.0, pill.height() / 2.0);
    painter.fillPath(path, QColor(20, 20, 24, 200));
    painter.setPen(Qt::white);
    painter.drawText(pill, Qt::AlignCenter, label);
    return image;
}

}  // namespace vellumora
