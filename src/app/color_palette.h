#pragma once
// The colour grid: one swatch per palette colour, six to a row; the current colour's swatch
// has a strong outline and a shadow.

#include <QAbstractButton>
#include <QWidget>

#include "model/drawing_types.h"

namespace vellumora {

class SessionModel;

class ColorSwatch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit ColorSwatch(const ArtColor& color, QWidget* parent = nullptr);

    const ArtColor& color() const { return color_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ArtColor color_;
    bool selected_ = false;
};

class ColorPalette : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kColumns = 6;

    explicit ColorPalette(SessionModel& session, QWidget* parent = nullptr);

    const std::vector<ColorSwatch*>& swatches() const { return swatches_; }

  private:
    void refresh();

    SessionModel& session_;
    std::vector<ColorSwatch*> swatches_;
};

}  // namespace vellumora
