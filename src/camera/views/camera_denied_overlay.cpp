#include "camera/views/camera_denied_overlay.h"

#include "ui/styles.h"
#include "ui/symbol_icons.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace vellumora {

CameraDeniedOverlay::CameraDeniedOverlay(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 0, 40, 0);
    layout->setSpacing(8);
    layout->addStretch();

    const QFont titleFont = ui::font(ui::TextStyle::largeTitle);
    const int iconSide = QFontMetrics(titleFont).height();
    auto* icon = new QLabel(this);
    icon->setPixmap(ui::symbolIcon(QStringLiteral("video.slash"), Qt::white)
                        .pixmap(QSize(iconSide, iconSide), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto* title = new QLabel(QStringLiteral("Camera access denied"), this);
    auto* hint =
        new QLabel(QStringLiteral("Connect a camera and make sure you may use it, then relaunch."), this);
    ui::setTextStyle(hint, ui::TextStyle::caption);
    for (QLabel* label : {title, hint}) {
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        label->setPalette(palette);
        layout->addWidget(label);
    }
    layout->addStretch();
}

void CameraDeniedOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.8f));
}

}  // namespace vellumora
