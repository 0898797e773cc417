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

// The slider works in thousandths of a size unit: fine enough to feel continuous.
constexpr double kSliderScale = 1000.0;

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

ToolPicker::ToolPicker(SessionModel& session, QWidget* parent) : QWidget(parent), m_session(session) {
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
        m_rows.push_back(row);
    }

    auto* size = new QVBoxLayout;
    size->setSpacing(ui::pt(4));
    auto* sizeRow = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("Size"));
    ui::setTextStyle(caption, ui::TextStyle::caption);
    m_sizeLabel = new QLabel;
    ui::setTextStyle(m_sizeLabel, ui::TextStyle::caption);
    ui::setTextColor(m_sizeLabel, ui::secondaryTextColor());
    sizeRow->addWidget(caption);
    sizeRow->addStretch(1);
    sizeRow->addWidget(m_sizeLabel);
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setAccessibleName(QStringLiteral("Brush size"));
    m_slider->setRange(0, sliderPosition(kMaxBrushSize));
    m_slider->setSingleStep(static_cast<int>(kSliderScale / 10));  // 0.1 per arrow key
    m_slider->setPageStep(static_cast<int>(kSliderScale));
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { m_session.setBrushSize(kMinBrushSize + value / kSliderScale); });
    size->addLayout(sizeRow);
    size->addWidget(m_slider);
    outer->addSpacing(ui::pt(6));
    outer->addLayout(size);

    connect(&m_session, &SessionModel::toolChanged, this, &ToolPicker::refreshTool);
    connect(&m_session, &SessionModel::brushSizeChanged, this, &ToolPicker::refreshSize);
    refreshTool();
    refreshSize();
}

ui::SelectableRow* ToolPicker::rowFor(Tool tool) const {
    return m_rows[static_cast<std::size_t>(tool)];
}

void ToolPicker::choose(Tool tool) {
    m_session.setTool(tool);
    m_session.setBrushSize(defaultBrushSize(tool));
}

void ToolPicker::refreshTool() {
    for (const Tool tool : toolAllCases) {
        rowFor(tool)->setSelected(tool == m_session.tool());
    }
}

void ToolPicker::refreshSize() {
    const double size = m_session.brushSize();
    m_sizeLabel->setText(QString::asprintf("%.1f", size));
    const QSignalBlocker quiet(m_slider);
    m_slider->setValue(sliderPosition(size));
}

}  // namespace vellumora
