#include "app/gesture_help_footer.h"

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

#include "app/pointing_devices.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

GestureHelpFooter::GestureHelpFooter(QWidget* parent)
    : QWidget(parent), devices_(new PointingDevicesWatch(this)), text_(new QLabel) {
    auto* title = new QLabel(QStringLiteral("How to color"));
    ui::setTextStyle(title, ui::TextStyle::caption, QFont::DemiBold);
    ui::setTextStyle(text_, ui::TextStyle::caption);
    text_->setTextFormat(Qt::RichText);
    text_->setWordWrap(true);
    ui::setTextColor(text_, ui::secondaryTextColor());

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(ui::pt(6));
    const int side = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    layout->setContentsMargins(side, ui::pt(12), side, ui::pt(12));
    layout->addWidget(title);
    layout->addWidget(text_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(devices_, &PointingDevicesWatch::devicesChanged, this, &GestureHelpFooter::refresh);
    refresh();
}

QString GestureHelpFooter::text() const {
    return howToColor(devices_->devices()).join(QLatin1Char('\n'));
}

void GestureHelpFooter::refresh() {
    // One short paragraph per device, its name in bold.
    QString html;
    for (const QString& paragraph : howToColor(devices_->devices())) {
        const qsizetype colon = paragraph.indexOf(QLatin1Char(':')) + 1;
        html += QStringLiteral("<p style=\"margin: 0 0 %1px 0\"><b>%2</b>%3</p>")
                    .arg(ui::pt(4))
                    .arg(paragraph.left(colon).toHtmlEscaped(), paragraph.mid(colon).toHtmlEscaped());
    }
    text_->setText(html);
}

void GestureHelpFooter::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), QColor(0, 0, 0, 10));
}

}  // namespace vellumora
