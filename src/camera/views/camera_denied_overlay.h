#pragma once
// Covers the live picture when the camera cannot be used: no camera, or no permission.

#include <QWidget>

namespace vellumora {

class CameraDeniedOverlay : public QWidget {
    Q_OBJECT

  public:
    explicit CameraDeniedOverlay(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vellumora
