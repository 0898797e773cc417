#pragma once
// What the desk shows while no room is open: a nudge towards the friends panel, and how the
// device at hand will colour.

#include <QWidget>

class QLabel;

namespace vellumora {

class PointingDevicesWatch;

class NoRoomPlaceholder : public QWidget {
    Q_OBJECT
  public:
    explicit NoRoomPlaceholder(QWidget* parent = nullptr);

    QString deviceHint() const;

  private:
    PointingDevicesWatch* devices_;
    QLabel* deviceHint_;
};

}  // namespace vellumora
