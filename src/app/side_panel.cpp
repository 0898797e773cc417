#include "app/side_panel.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "account/views/friends_panel.h"
#include "app/color_palette.h"
#include "app/gesture_help_footer.h"
#include "app/presence_list.h"
#include "app/swatch_preview.h"
#include "app/tool_picker.h"
#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

QFrame* divider() {
    return ui::separator(Qt::Horizontal, QColor(255, 255, 255, 28));
}

}  // namespace

SidePanel::SidePanel(AuthModel& auth, SessionModel& session, const WidgetFactory& pagePicker, QWidget* parent)
    : QWidget(parent), session_(session) {
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    auto* items = new QVBoxLayout(content);
    items->setSpacing(ui::pt(18));
    friends_ = new FriendsPanel(auth, session);
    items->addWidget(friends_);
    QMenu* account = friends_->accountMenu();
    auto* listShortcuts = new QAction(QStringLiteral("Keyboard shortcuts"), account);
    account->insertAction(account->actions().value(0), listShortcuts);
    connect(listShortcuts, &QAction::triggered, this, &SidePanel::showShortcuts);

    // What a room adds: who is here and the page above, scrolling with the friends when they
    // are many; the drawing controls below, always in view.
    roomInfo_ = new QWidget;
    auto* info = new QVBoxLayout(roomInfo_);
    info->setContentsMargins(0, 0, 0, 0);
    info->setSpacing(ui::pt(18));
    info->addWidget(divider());
    info->addWidget(new PresenceList(session));
    if (pagePicker) {
        info->addWidget(divider());
        info->addWidget(pagePicker(nullptr));
    }
    items->addWidget(roomInfo_);
    items->addStretch(1);

    roomControls_ = new QWidget;
    auto* controls = new QVBoxLayout(roomControls_);
    const int inset = ui::pt(12);
    controls->setContentsMargins(inset, 0, inset, ui::pt(10));
    controls->setSpacing(ui::pt(10));
    controls->addWidget(divider());
    controls->addWidget(new ToolPicker(session));
    auto* palette = new QVBoxLayout;
    palette->setSpacing(ui::pt(6));
    auto* heading = new QLabel(QStringLiteral("Palette"));
    ui::setTextStyle(heading, ui::TextStyle::headline);
    palette->addWidget(heading);
    palette->addWidget(new ColorPalette(session));
    controls->addLayout(palette);
    controls->addWidget(new SwatchPreview(session));

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    // The panel paints its own sheet behind everything; the scroll area must not cover it.
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll, 1);
    layout->addWidget(roomControls_);
    layout->addWidget(new GestureHelpFooter);

    connect(&session_, &SessionModel::roomIdChanged, this, &SidePanel::refresh);
    refresh();
}

void SidePanel::showShortcuts() {
    if (!shortcuts_) {
        shortcuts_ = new ShortcutsDialog(window());
        shortcuts_->setAttribute(Qt::WA_DeleteOnClose);
    }
    shortcuts_->show();
    shortcuts_->raise();
    shortcuts_->activateWindow();
}

void SidePanel::refresh() {
    roomInfo_->setVisible(session_.roomId().has_value());
    roomControls_->setVisible(session_.roomId().has_value());
}

void SidePanel::paintEvent(QPaintEvent*) {
    // A lighter, slightly translucent sheet over the window colour, like frosted glass.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.fillRect(rect(), QColor(255, 255, 255, 10));
}

}  // namespace vellumora
