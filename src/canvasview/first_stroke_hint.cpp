#include "canvasview/first_stroke_hint.h"

#include "ui/app_settings.h"
#include "ui/styles.h"

#include <algorithm>

namespace vellumora {

namespace {

constexpr const char* kDrawnKey = "hints/drawn";

}  // namespace

FirstStrokeHint::FirstStrokeHint(QWidget* parent) : QLabel(QString::fromUtf8(kText), parent) {
    // It tells; it never stands in the way of the pen.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(ui::font(ui::TextStyle::subheadline, QFont::DemiBold));
    const int padY = fontMetrics().height() / 2;
    const int padX = fontMetrics().height();
    setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(20, 20, 24, 205); "
                                 "border-radius: %1px; padding: %2px %3px; }")
                      .arg((fontMetrics().height() + 2 * padY) / 2)
                      .arg(padY)
                      .arg(padX));
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setVisible(!hasDrawn());
}

bool FirstStrokeHint::hasDrawn() {
    return ui::appSettings().value(QString::fromUtf8(kDrawnKey), false).toBool();
}

void FirstStrokeHint::strokeDrawn() {
    hide();
    if (hasDrawn()) return;
    QSettings store = ui::appSettings();
    store.setValue(QString::fromUtf8(kDrawnKey), true);
}

void FirstStrokeHint::place(QRect area, QRect keepClear) {
    const int margin = fontMetrics().height() * 3 / 2;
    setMaximumWidth(std::max(area.width() - 2 * margin, fontMetrics().height() * 4));
    adjustSize();
    QRect at(area.center().x() - width() / 2, area.bottom() - height() - margin, width(), height());
    if (!keepClear.isEmpty() && at.intersects(keepClear)) at.moveBottom(keepClear.top() - margin / 2);
    move(at.topLeft());
    raise();
}

}  // namespace vellumora
