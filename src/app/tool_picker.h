#pragma once
// The brush chooser: one row per tool, the current one checked, and the brush-size slider.
// Choosing a tool also resets the brush size to that tool's default. Undo and redo of the user's
// own strokes sit with the tools, and their keys work anywhere in the window while it shows.

#include <QWidget>

#include "model/drawing_types.h"

class QAction;
class QLabel;
class QSlider;
class QToolButton;

namespace vellumora {

class SessionModel;
namespace ui {
class SelectableRow;
}

class ToolPicker : public QWidget {
    Q_OBJECT
  public:
    static constexpr double kMinBrushSize = 0.5;
    static constexpr double kMaxBrushSize = 20.0;

    explicit ToolPicker(SessionModel& session, QWidget* parent = nullptr);

    ui::SelectableRow* rowFor(Tool tool) const;
    QSlider* sizeSlider() const { return slider_; }
    QLabel* sizeLabel() const { return sizeLabel_; }
    QToolButton* undoButton() const { return undoButton_; }
    QToolButton* redoButton() const { return redoButton_; }
    // Shown only after a clear ended the undo history.
    QLabel* undoNote() const { return undoNote_; }

  private:
    void choose(Tool tool);
    void refreshTool();
    void refreshSize();
    void refreshUndo();
    QToolButton* historyButton(QAction* action);

    SessionModel& session_;
    std::vector<ui::SelectableRow*> rows_;
    QLabel* sizeLabel_;
    QSlider* slider_;
    QAction* undo_;
    QAction* redo_;
    QToolButton* undoButton_;
    QToolButton* redoButton_;
    QLabel* undoNote_;
};

}  // namespace vellumora
