#include "app/content_view.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QStackedLayout>

#include "account/views/friends_panel.h"
#include "account/views/sketchbook_row.h"
#include "app/desk_background.h"
#include "app/no_room_placeholder.h"
#include "app/page_frame.h"
#include "app/side_panel.h"
#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

ContentView::ContentView(AuthModel& auth, SessionModel& session, ViewFactories factories, QWidget* parent)
    : QWidget(parent), session_(session), factories_(std::move(factories)) {
    auto* desk = new DeskBackground;
    stage_ = new QStackedLayout(desk);
    placeholder_ = new NoRoomPlaceholder;
    stage_->addWidget(placeholder_);

    QFrame* line = ui::separator(Qt::Vertical, QColor(0, 0, 0, 140));

    side_ = new SidePanel(auth, session, factories_.pagePicker);
    side_->setFixedWidth(ui::pt(300));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(desk, 1);
    layout->addWidget(line);
    layout->addWidget(side_);

    export_ = canvasAction(QStringLiteral("Export picture…"), ShortcutAction::exportPicture,
                           factories_.exportPicture);
    copy_ = canvasAction(QStringLiteral("Copy picture"), ShortcutAction::copyPicture, factories_.copyPicture);
    // Between the side panel's "Keyboard shortcuts" (first) and "Log out", set apart.
    QMenu* account = side_->friendsPanel()->accountMenu();
    QAction* after = account->actions().value(1);
    account->insertActions(after, {export_, copy_});
    account->insertSeparator(export_);
    account->insertSeparator(after);

    // Keyboard users start on the first room they can open.
    setFocusProxy(side_->friendsPanel()->sketchbookRow());
    connect(&session_, &SessionModel::roomIdChanged, this, &ContentView::refresh);
    refresh();
}

QAction* ContentView::canvasAction(const QString& text, ShortcutAction action, WidgetAction run) {
    auto* item = new QAction(text, this);
    item->setShortcuts(keySequences(shortcut(action)));
    item->setVisible(static_cast<bool>(run));
    connect(item, &QAction::triggered, this, [this, run] {
        if (run && frame_ && stage_->currentWidget() == frame_ && frame_->content()) run(frame_->content());
    });
    // Bound here, the keys work wherever the focus is in the window.
    addAction(item);
    return item;
}

QWidget* ContentView::stageContent() const {
    return stage_->currentWidget();
}

void ContentView::refresh() {
    const bool open = session_.roomId().has_value();
    export_->setEnabled(open);
    copy_->setEnabled(open);
    if (!open) {
        stage_->setCurrentWidget(placeholder_);
        return;
    }
    const bool opening = stage_->currentWidget() != frame_ || !frame_;
    if (!frame_ && factories_.canvas) {
        frame_ = new PageFrame(factories_.canvas(nullptr));
        stage_->addWidget(frame_);
    }
    if (frame_) {
        stage_->setCurrentWidget(frame_);
        // The canvas takes the keyboard once a room opens, so Space starts colouring at once.
        if (opening && frame_->content()) {
            frame_->content()->setFocus(Qt::OtherFocusReason);
        }
    }
}

}  // namespace vellumora
