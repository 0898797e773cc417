#pragma once
// The brush chooser: one row per tool, the current one checked, and the brush-size slider.
// Choosing a tool also resets the brush size to that tool's default.

#include <QWidget>

#include "model/drawing_types.h"

class QLabel;
class QSlider;

namespace vellumora {

class SessionModel;
namespace ui {
class SelectableRow;
}

// The size a tool starts with whenever it is chosen.
double defaultBrushSize(Tool tool);

class ToolPicker : public QWidget {
    Q_OBJECT
  public:
    static constexpr double kMinBrushSize = 0.5;
    static constexpr double kMaxBrushSize = 20.0;

    explicit ToolPicker(SessionModel& session, QWidget* parent = nullptr);

    ui::SelectableRow* rowFor(Tool tool) const;
    QSlider* sizeSlider() const { return slider_; }
    QLabel* sizeLabel() const { return sizeLabel_; }

  private:
    void choose(Tool tool);
    void refreshTool();
    void refreshSize();

    SessionModel& session_;
    std::vector<ui::SelectableRow*> rows_;
    QLabel* sizeLabel_;
    QSlider* slider_;
};

}  // namespace vellumora
