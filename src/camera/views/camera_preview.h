#pragma once
// The live camera picture, whole and centred on black.

#include <QPointer>
#include <QWidget>

namespace vellumora {

class CameraController;

class CameraPreview : public QWidget {
    Q_OBJECT

  public:
    explicit CameraPreview(CameraController* controller, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPointer<CameraController> controller_;
};

}  // namespace vellumora
