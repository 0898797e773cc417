#pragma once
// Shown while a stored sign-in is being checked: the desk colour and a large spinner.

#include <QWidget>

namespace vellumora {

class LoadingView : public QWidget {
    Q_OBJECT
  public:
    explicit LoadingView(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vellumora
