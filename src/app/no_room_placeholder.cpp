#include "app/no_room_placeholder.h"

#include <QLabel>
#include <QVBoxLayout>

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

NoRoomPlaceholder::NoRoomPlaceholder(QWidget* parent) : QWidget(parent) {
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
    layout->addStretch(1);
}

}  // namespace vellumora
