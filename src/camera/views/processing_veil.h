#pragma once
// Dims the live picture while a capture is being turned into line art, with a spinner and
// "Processing…".

#include <QVariantAnimation>
#include <QWidget>

namespace vellumora {

class ProcessingVeil : public QWidget {
    Q_OBJECT

  public:
    explicit ProcessingVeil(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QVariantAnimation spin_;
};

}  // namespace vellumora
