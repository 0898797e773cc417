#include "app/content_view.h"

#include <QFrame>
#include <QHBoxLayout>
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

    // Keyboard users start on the first room they can open.
    setFocusProxy(side_->friendsPanel()->sketchbookRow());
    connect(&session_, &SessionModel::roomIdChanged, this, &ContentView::refresh);
    refresh();
}

QWidget* ContentView::stageContent() const {
    return stage_->currentWidget();
}

void ContentView::refresh() {
    if (!session_.roomId()) {
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
