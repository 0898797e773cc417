#pragma once
// The dark wooden desk the page lies on: a diagonal gradient with a soft light in the middle.

#include <QWidget>

namespace vellumora {

class DeskBackground : public QWidget {
    Q_OBJECT
  public:
    explicit DeskBackground(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vellumora
