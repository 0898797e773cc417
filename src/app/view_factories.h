#pragma once
// The pieces other components build for the main layout, handed in as factories so the layout
// can be shown (and tested) without OpenGL or the page library.

#include <QWidget>
#include <functional>

namespace vellumora {

using WidgetFactory = std::function<QWidget*(QWidget* parent)>;

// Something done to a widget a factory made.
using WidgetAction = std::function<void(QWidget* widget)>;

struct ViewFactories {
    WidgetFactory canvas;      // the canvas of the open room
    WidgetFactory pagePicker;  // the page chooser of the side panel
    // "Export picture…" and "Copy picture" of a canvas `canvas` made; none: not offered.
    WidgetAction exportPicture;
    WidgetAction copyPicture;
};

}  // namespace vellumora
