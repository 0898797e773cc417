#include "ui/styles.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace vellumora::ui {

namespace {

// Sizes relative to the body text, as desktop type ramps scale them.
qreal scaleOf(TextStyle style) {
    switch (style) {
    case TextStyle::largeTitle: return 26.0 / 13.0;
    case TextStyle::title: return 22.0 / 13.0;
    case TextStyle::title3: return 15.0 / 13.0;
    case TextStyle::headline: return 1.0;
    case TextStyle::subheadline: return 11.0 / 13.0;
    case TextStyle::body: return 1.0;
    case TextStyle::caption: return 10.0 / 13.0;
    case TextStyle::caption2: return 10.0 / 13.0;
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

QColor accentColor() { return QApplication::palette().color(QPalette::Highlight); }

QColor primaryTextColor() { return QApplication::palette().color(QPalette::WindowText); }

QColor secondaryTextColor() {
    QColor c = primaryTextColor();
    c.setAlphaF(0.6f);
    return c;
}

QColor destructiveColor() { return QColor(0xD7, 0x26, 0x26); }

}  // namespace vellumora::ui
