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
      m_leading(leading),
      m_title(new QLabel),
      m_subtitle(new QLabel),
      m_check(new QLabel),
      m_cornerRadius(cornerRadius) {
    setCheckable(false);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_title->setFont(titleFont);
    setTextStyle(m_subtitle, TextStyle::caption2);
    QPalette secondary = m_subtitle->palette();
    secondary.setColor(QPalette::WindowText, secondaryTextColor());
    m_subtitle->setPalette(secondary);
    setSymbol(m_check, QStringLiteral("checkmark.circle.fill"), accentColor(), pt(14));
    m_check->hide();

    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->addWidget(m_title);
    lines->addWidget(m_subtitle);

    auto* row = new QHBoxLayout(this);
    row->setSpacing(pt(8));
    row->setContentsMargins(padding);
    row->addWidget(leading, 0, Qt::AlignVCenter);
    row->addLayout(lines, 1);
    row->addWidget(m_check, 0, Qt::AlignVCenter);

    for (QWidget* child : {leading, static_cast<QWidget*>(m_title), static_cast<QWidget*>(m_subtitle),
                           static_cast<QWidget*>(m_check)}) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
}

void SelectableRow::setTexts(const QString& title, const QString& subtitle) {
    m_title->setText(title);
    m_subtitle->setText(subtitle);
    m_subtitle->setVisible(!subtitle.isEmpty());
    setAccessibleName(title);
    setAccessibleDescription(subtitle);
}

QString SelectableRow::title() const {
    return m_title->text();
}

QString SelectableRow::subtitle() const {
    return m_subtitle->text();
}

void SelectableRow::setSelected(bool selected) {
    m_selected = selected;
    m_check->setVisible(selected);
    update();
}

void SelectableRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, m_cornerRadius, m_cornerRadius);
    if (m_selected || isDown()) {
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
