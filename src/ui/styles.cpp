#include "ui/styles.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

namespace vellumora::ui {

namespace {

// Sizes relative to the body text, as desktop type ramps scale them.
qreal scaleOf(TextStyle style) {
    switch (style) {
        case TextStyle::largeTitle:
            return 26.0 / 13.0;
        case TextStyle::title:
            return 22.0 / 13.0;
        case TextStyle::title3:
            return 15.0 / 13.0;
        case TextStyle::headline:
            return 1.0;
        case TextStyle::subheadline:
            return 11.0 / 13.0;
        case TextStyle::body:
            return 1.0;
        case TextStyle::caption:
            return 10.0 / 13.0;
        case TextStyle::caption2:
            return 10.0 / 13.0;
    }
    return 1.0;
}

}  // namespace

QFont font(TextStyle style) {
    return font(style, style == TextStyle::headline ? QFont::DemiBold : QFont::Normal);
}

QFont font(TextStyle style, QFont::Weight weight) {
    QFont f = QApplication::font();
    if (f.pointSizeF() > 0) {
        f.setPointSizeF(f.pointSizeF() * scaleOf(style));
    } else if (f.pixelSize() > 0) {
        f.setPixelSize(qRound(f.pixelSize() * scaleOf(style)));
    }
    f.setWeight(weight);
    return f;
}

void setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight) {
    widget->setFont(weight == QFont::Normal ? font(style) : font(style, weight));
}

QLabel* label(const QString& text, TextStyle style, QFont::Weight weight, const QColor& color) {
    auto* label = new QLabel(text);
    setTextStyle(label, style, weight);
    if (color.isValid()) {
        setTextColor(label, color);
    }
    return label;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    widget->setPalette(p);
}

void makeProminent(QPushButton* button) {
    QPalette p = button->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Button, accentColor());
        p.setColor(group, QPalette::ButtonText, Qt::white);
    }
    button->setPalette(p);
}

QFrame* separator(Qt::Orientation orientation, const QColor& color) {
    auto* line = new QFrame;
    line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    setTextColor(line, color);
    return line;
}

QLinearGradient deskGradient(const QRectF& rect) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.17f, 0.13f, 0.10f));
    gradient.setColorAt(1, deskColor());
    return gradient;
}

QColor deskColor() {
    return QColor::fromRgbF(0.12f, 0.09f, 0.07f);
}

QColor accentColor() {
    return QApplication::palette().color(QPalette::Highlight);
}

QColor primaryTextColor() {
    return QApplication::palette().color(QPalette::WindowText);
}

QColor secondaryTextColor() {
    QColor c = primaryTextColor();
    c.setAlphaF(0.6f);
    return c;
}

QColor destructiveColor() { return QColor(0xD7, 0x26, 0x26); }

}  // namespace vellumora::ui
