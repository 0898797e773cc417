#pragma once
// What the desk shows while no room is open: a nudge towards the friends panel.

#include <QWidget>

namespace vellumora {

class NoRoomPlaceholder : public QWidget {
    Q_OBJECT
  public:
    explicit NoRoomPlaceholder(QWidget* parent = nullptr);
};

}  // namespace vellumora
