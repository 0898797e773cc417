#pragma once
// One page of the picker's grid: the page's drawing on a paper-coloured tile with its name
// below, outlined in the accent colour while it is the room's page. A plain button: clicking
// it (or Space, Return) emits clicked().

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>

#include "session/current_page.h"

namespace vellumora {

class PageThumbnail : public QAbstractButton {
    Q_OBJECT

  public:
    static constexpr int kTileHeight = 62;

    explicit PageThumbnail(CurrentPage page, QWidget* parent = nullptr);

    const CurrentPage& page() const { return page_; }
    // Whether this is the room's page; the owner sets it, a click does not toggle it.
    bool isSelected() const { return isChecked(); }
    void setSelected(bool selected) { setChecked(selected); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void nextCheckState() override {}

  private:
    const QPixmap& fittedImage(QSize box);

    const CurrentPage page_;
    QImage image_;  // decoded once; null when the page has no picture
    QPixmap fitted_;
};

}  // namespace vellumora
