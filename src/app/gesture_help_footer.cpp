#include "app/gesture_help_footer.h"

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

GestureHelpFooter::GestureHelpFooter(QWidget* parent) : QWidget(parent) {
    auto* title = new QLabel(QStringLiteral("How to color"));
    ui::setTextStyle(title, ui::TextStyle::caption, QFont::DemiBold);
    auto* text = new QLabel(
        QStringLiteral("The trackpad is the paper. One finger presses the pen to paper and colors. "
                       "Two fingers lift the pen so you can move without inking."));
    ui::setTextStyle(text, ui::TextStyle::caption);
    text->setWordWrap(true);
    ui::setTextColor(text, ui::secondaryTextColor());

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(ui::pt(6));
    const int side = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    layout->setContentsMargins(side, ui::pt(12), side, ui::pt(12));
    layout->addWidget(title);
    layout->addWidget(text);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void GestureHelpFooter::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), QColor(0, 0, 0, 10));
}

}  // namespace vellumora
