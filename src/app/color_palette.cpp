#include "app/color_palette.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>

#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

QColor toQColor(const ArtColor& c) {
    return QColor::fromRgbF(static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b));
}

// Room around the swatch for its outline and shadow.
int swatchInset() {
    return ui::pt(2);
}

}  // namespace

ColorSwatch::ColorSwatch(const ArtColor& color, QWidget* parent) : QAbstractButton(parent), color_(color) {
    const QString name = QString::fromStdString(color.name);
    setToolTip(name);
    setAccessibleName(name);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ColorSwatch::setSelected(bool selected) {
    selected_ = selected;
    update();
}

QSize ColorSwatch::sizeHint() const {
    return {ui::pt(28) + 2 * swatchInset(), ui::pt(28) + 2 * swatchInset()};
}

QSize ColorSwatch::minimumSizeHint() const {
    return {ui::pt(10) + 2 * swatchInset(), sizeHint().height()};
}

void ColorSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int inset = swatchInset();
    const QRectF box = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    const double radius = ui::ptF(6);
    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    if (selected_) {
        QPainterPath shadow;
        shadow.addRoundedRect(box.translated(0, ui::ptF(1)), radius, radius);
        painter.fillPath(shadow, QColor(0, 0, 0, 64));
    }
    painter.fillPath(shape, toQColor(color_));
    const double line = selected_ ? ui::ptF(2.5) : 1.0;
    painter.setPen(QPen(selected_ ? ui::primaryTextColor() : QColor(0, 0, 0, 46), line));
    painter.drawPath(shape);
    if (hasFocus()) {
        QPainterPath ring;
        ring.addRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), radius + inset,
                            radius + inset);
        painter.setPen(QPen(ui::accentColor(), 1.5));
        painter.drawPath(ring);
    }
}

ColorPalette::ColorPalette(SessionModel& session, QWidget* parent) : QWidget(parent), session_(session) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    // The swatches carry their own inset, so the gaps come out at 6 points.
    grid->setHorizontalSpacing(ui::pt(6) - 2 * swatchInset());
    grid->setVerticalSpacing(ui::pt(6) - 2 * swatchInset());
    const std::vector<ArtColor>& palette = ArtColor::palette();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        auto* swatch = new ColorSwatch(palette[i]);
        connect(swatch, &QAbstractButton::clicked, this,
                [this, swatch] { session_.setColor(swatch->color()); });
        grid->addWidget(swatch, static_cast<int>(i) / kColumns, static_cast<int>(i) % kColumns);
        swatches_.push_back(swatch);
    }
    for (int column = 0; column < kColumns; ++column) {
        grid->setColumnStretch(column, 1);
    }
    connect(&session_, &SessionModel::colorChanged, this, &ColorPalette::refresh);
    refresh();
}

void ColorPalette::refresh() {
    for (ColorSwatch* swatch : swatches_) {
        swatch->setSelected(swatch->color() == session_.color());
    }
}

}  // namespace vellumora
