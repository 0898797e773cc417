#pragma once
// The short help at the bottom of the side panel on colouring with the trackpad.

#include <QWidget>

namespace vellumora {

class GestureHelpFooter : public QWidget {
    Q_OBJECT
  public:
    explicit GestureHelpFooter(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vellumora
