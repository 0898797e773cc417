#pragma once
// The colour grid: one swatch per palette colour, six to a row, then "More colours…" (the colour
// dialog) and the last colours chosen there, kept across launches; the current colour's swatch
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
    virtual QBrush fill() const;

  private:
    ArtColor color_;
    bool selected_ = false;
};

class ColorPalette : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kColumns = 6;
    // The custom colours kept: the rest of the row after "More colours…".
    static constexpr int kCustomColors = kColumns - 1;

    explicit ColorPalette(SessionModel& session, QWidget* parent = nullptr);

    // The palette's swatches, then the custom colours', most recent first.
    const std::vector<ColorSwatch*>& swatches() const { return swatches_; }
    QAbstractButton* moreColors() const { return more_; }
    // A colour from the dialog: it becomes the current colour and the first custom one.
    void chooseCustom(const QColor& color);

    // The custom colours as the settings keep them, most recent first.
    static std::vector<ArtColor> customColors();

  private:
    void openColorDialog();
    void addSwatch(const ArtColor& color, int index);
    void rebuildCustom();
    void refresh();

    SessionModel& session_;
    std::vector<ColorSwatch*> swatches_;
    QAbstractButton* more_;
    std::size_t paletteSize_ = 0;
};

}  // namespace vellumora
