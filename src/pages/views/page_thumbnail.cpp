#include "pages/views/page_thumbnail.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/styles.h"

namespace vellumora {

namespace {

constexpr double kCornerRadius = 6;
constexpr int kImageInset = 4;
constexpr int kLabelInset = 3;
constexpr int kLabelPaddingX = 4;
constexpr int kLabelPaddingY = 1;
constexpr double kLabelCornerRadius = 3;

QColor paperWhite() {
    return QColor::fromRgbF(0.98f, 0.96f, 0.90f);
}

}  // namespace

PageThumbnail::PageThumbnail(CurrentPage page, QWidget* parent)
    : QAbstractButton(parent), page_(std::move(page)) {
    if (page_.imageData) {
        image_ = QImage::fromData(*page_.imageData);
    }
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setText(page_.displayName);
    setAccessibleName(page_.displayName);
    setToolTip(page_.displayName);
    setFont(ui::font(ui::TextStyle::caption2));
}

QSize PageThumbnail::sizeHint() const {
    return {kTileHeight * 3 / 2, kTileHeight};
}

QSize PageThumbnail::minimumSizeHint() const {
    return {kTileHeight, kTileHeight};
}

const QPixmap& PageThumbnail::fittedImage(QSize box) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = image_.size().scaled(box * ratio, Qt::KeepAspectRatio);
    if (fitted_.isNull() || fitted_.size() != pixels) {
        fitted_ = QPixmap::fromImage(image_.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        fitted_.setDevicePixelRatio(ratio);
    }
    return fitted_;
}

void PageThumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF tile = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(tile, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, paperWhite());

    if (!image_.isNull()) {
        const QRect box = rect().adjusted(kImageInset, kImageInset, -kImageInset, -kImageInset);
        const QPixmap& fitted = fittedImage(box.size());
        const QSizeF shown = fitted.deviceIndependentSize();
        painter.drawPixmap(QPointF(box.x() + (box.width() - shown.width()) / 2,
                                   box.y() + (box.height() - shown.height()) / 2),
                           fitted);
    }

    // The border is stroked inside the tile's outline.
    const bool selected = isSelected();
    const double width = selected ? 2 : 1;
    QColor border = selected ? ui::accentColor() : QColor(0, 0, 0, 38);
    if (!selected && underMouse()) {
        border.setAlpha(90);
    }
    painter.setPen(QPen(border, width));
    painter.setBrush(Qt::NoBrush);
    const double half = width / 2;
    painter.drawRoundedRect(tile.adjusted(half, half, -half, -half), kCornerRadius - half,
                            kCornerRadius - half);

    const QFontMetrics metrics(font());
    const int available = rect().width() - 2 * (kLabelInset + kLabelPaddingX);
    const QString name = metrics.elidedText(page_.displayName, Qt::ElideRight, std::max(0, available));
    const QSize text(metrics.horizontalAdvance(name), metrics.height());
    const QRectF label(QPointF((rect().width() - text.width()) / 2.0 - kLabelPaddingX,
                               rect().height() - kLabelInset - text.height() - 2 * kLabelPaddingY),
                       QSizeF(text.width() + 2 * kLabelPaddingX, text.height() + 2 * kLabelPaddingY));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 185));
    painter.drawRoundedRect(label, kLabelCornerRadius, kLabelCornerRadius);
    painter.setPen(QColor(0, 0, 0, 220));
    painter.drawText(label, Qt::AlignCenter, name);

    // Keyboard focus: a dashed ring inside the border, shown once the keyboard is in use.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(ui::accentColor(), 1.5, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(tile.adjusted(3.5, 3.5, -3.5, -3.5), kCornerRadius - 3, kCornerRadius - 3);
    }
}

void PageThumbnail::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

}  // namespace vellumora
