#pragma once
// The application's look, set once at start-up: the Fusion style with a warm dark palette that
// sits well beside the dark desk, the fallback icon theme, and the conversion from the design's
// points to pixels.

class QApplication;

namespace vellumora::ui {

// Style, palette and icon theme; call once after the application object exists.
void installAppearance(QApplication& app);

// The design's sizes are in points of a 13-point body text; this scales them with the
// application font, so a larger system font enlarges the layout with it.
int pt(double points);
double ptF(double points);

}  // namespace vellumora::ui
