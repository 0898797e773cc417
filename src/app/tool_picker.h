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
    QSlider* sizeSlider() const { return m_slider; }
    QLabel* sizeLabel() const { return m_sizeLabel; }

  private:
    void choose(Tool tool);
    void refreshTool();
    void refreshSize();

    SessionModel& m_session;
    std::vector<ui::SelectableRow*> m_rows;
    QLabel* m_sizeLabel;
    QSlider* m_slider;
};

}  // namespace vellumora
