#include "app/color_palette.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "session/session_model.h"
#include "ui/app_settings.h"
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

constexpr const char* kCustomKey = "palette/customColors";

ArtColor customColor(const QColor& color) {
    const QString hex = color.name(QColor::HexRgb).toUpper();
    return {"custom-" + hex.mid(1).toLower().toStdString(), hex.toStdString(), color.redF(), color.greenF(),
            color.blueF()};
}

// "More colours…": a colour wheel to pick from, marked with a plus.
class MoreColorsSwatch : public ColorSwatch {
  public:
    MoreColorsSwatch() : ColorSwatch(ArtColor{}) {
        const QString name = QStringLiteral("More colours…");
        setToolTip(name);
        setAccessibleName(name);
    }

  protected:
    QBrush fill() const override {
        QConicalGradient wheel(QRectF(rect()).center(), 90);
        for (int i = 0; i <= 6; ++i)
            wheel.setColorAt(i / 6.0, QColor::fromHsvF(float(i % 6) / 6.0f, 0.6f, 0.95f));
        return wheel;
    }
    void paintEvent(QPaintEvent* event) override {
        ColorSwatch::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF c = QRectF(rect()).center();
        const double arm = ui::ptF(6);
        painter.setPen(QPen(QColor(0, 0, 0, 160), ui::ptF(4), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(c - QPointF(arm, 0), c + QPointF(arm, 0));
        painter.drawLine(c - QPointF(0, arm), c + QPointF(0, arm));
        painter.setPen(QPen(Qt::white, ui::ptF(2), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(c - QPointF(arm, 0), c + QPointF(arm, 0));
        painter.drawLine(c - QPointF(0, arm), c + QPointF(0, arm));
    }
};

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

QBrush ColorSwatch::fill() const {
    return toQColor(color_);
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
    painter.fillPath(shape, fill());
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
    for (std::size_t i = 0; i < palette.size(); ++i) addSwatch(palette[i], static_cast<int>(i));
    paletteSize_ = palette.size();
    const int moreRow = static_cast<int>((palette.size() + kColumns - 1) / kColumns);
    more_ = new MoreColorsSwatch;
    grid->addWidget(more_, moreRow, 0);
    connect(more_, &QAbstractButton::clicked, this, &ColorPalette::openColorDialog);
    for (int column = 0; column < kColumns; ++column) {
        grid->setColumnStretch(column, 1);
    }
    rebuildCustom();
    connect(&session_, &SessionModel::colorChanged, this, &ColorPalette::refresh);
    refresh();
}

void ColorPalette::addSwatch(const ArtColor& color, int index) {
    auto* swatch = new ColorSwatch(color);
    connect(swatch, &QAbstractButton::clicked, this, [this, swatch] { session_.setColor(swatch->color()); });
    static_cast<QGridLayout*>(layout())->addWidget(swatch, index / kColumns, index % kColumns);
    swatches_.push_back(swatch);
}

std::vector<ArtColor> ColorPalette::customColors() {
    std::vector<ArtColor> colors;
    for (const QString& text : ui::appSettings().value(QString::fromUtf8(kCustomKey)).toStringList()) {
        const QColor color = QColor::fromString(text);
        if (!color.isValid()) continue;
        const ArtColor custom = customColor(color);
        if (std::find(colors.begin(), colors.end(), custom) == colors.end()) colors.push_back(custom);
        if (colors.size() == kCustomColors) break;
    }
    return colors;
}

void ColorPalette::chooseCustom(const QColor& color) {
    if (!color.isValid()) return;
    const ArtColor chosen = customColor(color);
    QStringList kept{QString::fromStdString(chosen.name)};
    for (const ArtColor& c : customColors())
        if (c != chosen && kept.size() < kCustomColors) kept << QString::fromStdString(c.name);
    ui::appSettings().setValue(QString::fromUtf8(kCustomKey), kept);
    rebuildCustom();
    session_.setColor(chosen);
    refresh();
}

void ColorPalette::openColorDialog() {
    const ArtColor& current = session_.color();
    auto* dialog = new QColorDialog(toQColor(current), window());
    dialog->setWindowTitle(QStringLiteral("More colours"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QColorDialog::colorSelected, this, &ColorPalette::chooseCustom);
    dialog->open();
}

void ColorPalette::rebuildCustom() {
    const bool hadFocus = std::any_of(swatches_.begin() + static_cast<std::ptrdiff_t>(paletteSize_),
                                      swatches_.end(), [](const ColorSwatch* s) { return s->hasFocus(); });
    for (auto it = swatches_.begin() + static_cast<std::ptrdiff_t>(paletteSize_); it != swatches_.end(); ++it)
        delete *it;
    swatches_.resize(paletteSize_);
    // In the row of "More colours…", after it.
    const int first = static_cast<int>((paletteSize_ + kColumns - 1) / kColumns) * kColumns + 1;
    QWidget* previous = more_;
    for (const ArtColor& color : customColors()) {
        addSwatch(color, first + static_cast<int>(swatches_.size() - paletteSize_));
        setTabOrder(previous, swatches_.back());
        previous = swatches_.back();
    }
    if (hadFocus) more_->setFocus();
}

void ColorPalette::refresh() {
    for (ColorSwatch* swatch : swatches_) {
        swatch->setSelected(swatch->color() == session_.color());
    }
}

}  // namespace vellumora
