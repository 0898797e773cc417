#include "app/no_room_placeholder.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/pointing_devices.h"
#include "ui/appearance.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

QLabel* whiteText(const QString& text, ui::TextStyle style, double opacity) {
    QLabel* label =
        ui::label(text, style, QFont::Normal, QColor(255, 255, 255, static_cast<int>(opacity * 255)));
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

}  // namespace

NoRoomPlaceholder::NoRoomPlaceholder(QWidget* parent)
    : QWidget(parent),
      devices_(new PointingDevicesWatch(this)),
      deviceHint_(whiteText({}, ui::TextStyle::caption, 0.5)) {
    auto* symbol = new QLabel;
    ui::setSymbol(symbol, QStringLiteral("person.2.fill"), QColor(255, 255, 255, 102), ui::pt(56));

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(ui::pt(14));
    layout->addStretch(1);
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    layout->addWidget(whiteText(QStringLiteral("Pick a friend from the panel to start drawing."),
                                ui::TextStyle::title3, 0.75));
    layout->addWidget(
        whiteText(QStringLiteral("Or add one with the + button."), ui::TextStyle::caption, 0.5));
    layout->addWidget(deviceHint_);
    layout->addStretch(1);
    const auto refresh = [this] { deviceHint_->setText(howToStart(devices_->devices())); };
    connect(devices_, &PointingDevicesWatch::devicesChanged, this, refresh);
    refresh();
}

QString NoRoomPlaceholder::deviceHint() const {
    return deviceHint_->text();
}

}  // namespace vellumora
