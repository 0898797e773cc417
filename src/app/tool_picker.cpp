#include "app/tool_picker.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "app/shortcuts.h"
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

    // Two columns: six tools in three rows keep the panel short enough for the palette below.
    auto* grid = new QGridLayout;
    grid->setSpacing(ui::pt(4));
    layout->addLayout(grid);
    for (const Tool tool : toolAllCases) {
        auto* mark = new QLabel;
        ui::setSymbol(mark, qs(symbolName(tool)), ui::primaryTextColor(), ui::pt(16));
        mark->setFixedWidth(ui::pt(18));
        mark->setAlignment(Qt::AlignCenter);
        auto* row = new ui::SelectableRow(mark, ui::font(ui::TextStyle::body),
                                          QMargins(ui::pt(8), ui::pt(4), ui::pt(8), ui::pt(4)), ui::ptF(6));
        row->setTexts(qs(displayName(tool)));
        connect(row, &QAbstractButton::clicked, this, [this, tool] { choose(tool); });
        const auto index = static_cast<int>(rows_.size());
        grid->addWidget(row, index / 2, index % 2);
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

    undo_ = new QAction(ui::symbolIcon(QStringLiteral("arrow.uturn.backward")), QStringLiteral("Undo"), this);
    undo_->setShortcuts(keySequences(shortcut(ShortcutAction::undo)));
    connect(undo_, &QAction::triggered, this, [this] { session_.undo(); });
    redo_ = new QAction(ui::symbolIcon(QStringLiteral("arrow.uturn.forward")), QStringLiteral("Redo"), this);
    redo_->setShortcuts(keySequences(shortcut(ShortcutAction::redo)));
    connect(redo_, &QAction::triggered, this, [this] { session_.redo(); });
    addAction(undo_);
    addAction(redo_);
    auto* history = new QHBoxLayout;
    history->setSpacing(ui::pt(6));
    undoButton_ = historyButton(undo_);
    redoButton_ = historyButton(redo_);
    history->addWidget(undoButton_, 1);
    history->addWidget(redoButton_, 1);
    undoNote_ = new QLabel(QStringLiteral("Clearing the canvas ended the undo history."));
    undoNote_->setWordWrap(true);
    ui::setTextStyle(undoNote_, ui::TextStyle::caption);
    ui::setTextColor(undoNote_, ui::secondaryTextColor());
    outer->addSpacing(ui::pt(8));
    outer->addLayout(history);
    outer->addWidget(undoNote_);
    connect(&session_, &SessionModel::undoHistoryChanged, this, &ToolPicker::refreshUndo);

    connect(&session_, &SessionModel::toolChanged, this, &ToolPicker::refreshTool);
    connect(&session_, &SessionModel::brushSizeChanged, this, &ToolPicker::refreshSize);
    refreshTool();
    refreshSize();
    refreshUndo();
}

QToolButton* ToolPicker::historyButton(QAction* action) {
    auto* button = new QToolButton;
    button->setDefaultAction(action);
    button->setAccessibleName(action->text());
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

void ToolPicker::refreshUndo() {
    const UndoHistory& history = session_.undoHistory();
    const bool ended = history.endedByClear() && !history.canUndo();
    undo_->setEnabled(history.canUndo());
    redo_->setEnabled(history.canRedo());
    const QString undoKeys = shortcutText(shortcut(ShortcutAction::undo));
    undo_->setToolTip(ended ? QStringLiteral("Nothing to undo: clearing the canvas ended the undo history.")
                            : QStringLiteral("Undo your last stroke (%1)").arg(undoKeys));
    redo_->setToolTip(QStringLiteral("Redo the stroke you last undid (%1)")
                          .arg(shortcutText(shortcut(ShortcutAction::redo))));
    undoNote_->setVisible(ended);
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
