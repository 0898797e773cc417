#pragma once
// The short help at the bottom of the side panel: how to colour with the devices this person
// has (pen, touchscreen, mouse, touchpad).

#include <QWidget>

class QLabel;

namespace vellumora {

class PointingDevicesWatch;

class GestureHelpFooter : public QWidget {
    Q_OBJECT
  public:
    explicit GestureHelpFooter(QWidget* parent = nullptr);

    QString text() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void refresh();

    PointingDevicesWatch* devices_;
    QLabel* text_;
};

}  // namespace vellumora
