#include "ui/selectable_row.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "ui/appearance.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora::ui {

SelectableRow::SelectableRow(QWidget* leading, const QFont& titleFont, QMargins padding, double cornerRadius,
                             QWidget* parent)
    : QAbstractButton(parent),
      leading_(leading),
      title_(new QLabel),
      subtitle_(new QLabel),
      check_(new QLabel),
      cornerRadius_(cornerRadius) {
    setCheckable(false);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    title_->setFont(titleFont);
    setTextStyle(subtitle_, TextStyle::caption2);
    QPalette secondary = subtitle_->palette();
    secondary.setColor(QPalette::WindowText, secondaryTextColor());
    subtitle_->setPalette(secondary);
    setSymbol(check_, QStringLiteral("checkmark.circle.fill"), accentColor(), pt(14));
    check_->hide();

    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->addWidget(title_);
    lines->addWidget(subtitle_);

    auto* row = new QHBoxLayout(this);
    row->setSpacing(pt(8));
    row->setContentsMargins(padding);
    row->addWidget(leading, 0, Qt::AlignVCenter);
    row->addLayout(lines, 1);
    row->addWidget(check_, 0, Qt::AlignVCenter);

    for (QWidget* child : {leading, static_cast<QWidget*>(title_), static_cast<QWidget*>(subtitle_),
                           static_cast<QWidget*>(check_)}) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
}

void SelectableRow::setTexts(const QString& title, const QString& subtitle) {
    title_->setText(title);
    subtitle_->setText(subtitle);
    subtitle_->setVisible(!subtitle.isEmpty());
    setAccessibleName(title);
    setAccessibleDescription(subtitle);
}

QString SelectableRow::title() const {
    return title_->text();
}

QString SelectableRow::subtitle() const {
    return subtitle_->text();
}

void SelectableRow::setSelected(bool selected) {
    selected_ = selected;
    check_->setVisible(selected);
    update();
}

void SelectableRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, cornerRadius_, cornerRadius_);
    if (selected_ || isDown()) {
        QColor fill = accentColor();
        fill.setAlphaF(isDown() ? 0.2f : 0.12f);
        painter.fillPath(shape, fill);
    } else if (underMouse()) {
        painter.fillPath(shape, QColor(255, 255, 255, 12));
    }
    if (hasFocus()) {
        painter.setPen(QPen(accentColor(), 1.5));
        painter.drawPath(shape);
    }
}

}  // namespace vellumora::ui
