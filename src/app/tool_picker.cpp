#include "app/tool_picker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/selectable_row.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

// The slider works in tenths of a size unit, the label's precision, so a size set by the slider
// is always exactly the one the label reads.
constexpr double kSliderScale = 10.0;

int sliderPosition(double size) {
    const double clamped = std::clamp(size, ToolPicker::kMinBrushSize, ToolPicker::kMaxBrushSize);
    return static_cast<int>(std::lround((clamped - ToolPicker::kMinBrushSize) * kSliderScale));
}

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

double defaultBrushSize(Tool tool) {
    switch (tool) {
        case Tool::sketchpen:
            return 3.0;
        case Tool::pencil:
            return 1.5;
        case Tool::watercolor:
            return 11.0;
        case Tool::crayon:
            return 6.0;
        case Tool::pastel:
            return 8.0;
    }
    return 3.0;
}

ToolPicker::ToolPicker(SessionModel& session, QWidget* parent) : QWidget(parent), session_(session) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* layout = new QVBoxLayout;
    layout->setSpacing(ui::pt(8));
    outer->addLayout(layout);
    auto* heading = new QLabel(QStringLiteral("Tool"));
    ui::setTextStyle(heading, ui::TextStyle::headline);
    layout->addWidget(heading);

    for (const Tool tool : toolAllCases) {
        auto* mark = new QLabel;
        ui::setSymbol(mark, qs(symbolName(tool)), ui::primaryTextColor(), ui::pt(16));
        mark->setFixedWidth(ui::pt(18));
        mark->setAlignment(Qt::AlignCenter);
        auto* row = new ui::SelectableRow(mark, ui::font(ui::TextStyle::body),
                                          QMargins(ui::pt(8), ui::pt(4), ui::pt(8), ui::pt(4)), ui::ptF(6));
        row->setTexts(qs(displayName(tool)));
        connect(row, &QAbstractButton::clicked, this, [this, tool] { choose(tool); });
        layout->addWidget(row);
        rows_.push_back(row);
    }

    auto* size = new QVBoxLayout;
    size->setSpacing(ui::pt(4));
    auto* sizeRow = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("Size"));
    ui::setTextStyle(caption, ui::TextStyle::caption);
    sizeLabel_ = new QLabel;
    ui::setTextStyle(sizeLabel_, ui::TextStyle::caption);
    ui::setTextColor(sizeLabel_, ui::secondaryTextColor());
    sizeRow->addWidget(caption);
    sizeRow->addStretch(1);
    sizeRow->addWidget(sizeLabel_);
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setAccessibleName(QStringLiteral("Brush size"));
    slider_->setRange(0, sliderPosition(kMaxBrushSize));
    slider_->setSingleStep(1);  // 0.1 per arrow key
    slider_->setPageStep(static_cast<int>(kSliderScale));
    connect(slider_, &QSlider::valueChanged, this,
            [this](int value) { session_.setBrushSize(kMinBrushSize + value / kSliderScale); });
    size->addLayout(sizeRow);
    size->addWidget(slider_);
    outer->addSpacing(ui::pt(6));
    outer->addLayout(size);

    connect(&session_, &SessionModel::toolChanged, this, &ToolPicker::refreshTool);
    connect(&session_, &SessionModel::brushSizeChanged, this, &ToolPicker::refreshSize);
    refreshTool();
    refreshSize();
}

ui::SelectableRow* ToolPicker::rowFor(Tool tool) const {
    return rows_[static_cast<std::size_t>(tool)];
}

void ToolPicker::choose(Tool tool) {
    session_.setTool(tool);
    session_.setBrushSize(defaultBrushSize(tool));
}

void ToolPicker::refreshTool() {
    for (const Tool tool : toolAllCases) {
        rowFor(tool)->setSelected(tool == session_.tool());
    }
}

void ToolPicker::refreshSize() {
    const double size = session_.brushSize();
    sizeLabel_->setText(QString::asprintf("%.1f", size));
    const QSignalBlocker quiet(slider_);
    slider_->setValue(sliderPosition(size));
}

}  // namespace vellumora
