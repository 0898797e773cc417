#pragma once
// The one line that tells a newcomer how to draw, over the foot of the canvas. It shows in every
// room until this person has drawn a stroke, and never again after that, across launches.

#include <QLabel>

namespace vellumora {

class FirstStrokeHint : public QLabel {
    Q_OBJECT

  public:
    static constexpr const char* kText = "Drag on the paper to draw. Space: use the touchpad as paper.";

    // Hidden from the start once this person has drawn.
    explicit FirstStrokeHint(QWidget* parent);

    // Whether a stroke has ever been drawn here (kept in the user's settings).
    static bool hasDrawn();
    // A stroke was drawn: the hint goes, for good.
    void strokeDrawn();

    // Keeps it centred over the foot of `area`, in its parent's coordinates, wrapped to fit,
    // and above `keepClear` (another label there) where it would overlap it.
    void place(QRect area, QRect keepClear = {});
};

}  // namespace vellumora
