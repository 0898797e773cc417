#include "app/content_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QStackedLayout>

#include "account/friends_panel.h"
#include "account/sketchbook_row.h"
#include "app/desk_background.h"
#include "app/no_room_placeholder.h"
#include "app/page_frame.h"
#include "app/side_panel.h"
#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

ContentView::ContentView(AuthModel& auth, SessionModel& session, ViewFactories factories, QWidget* parent)
    : QWidget(parent), m_session(session), m_factories(std::move(factories)) {
    auto* desk = new DeskBackground;
    m_stage = new QStackedLayout(desk);
    m_placeholder = new NoRoomPlaceholder;
    m_stage->addWidget(m_placeholder);

    QFrame* line = ui::separator(Qt::Vertical, QColor(0, 0, 0, 140));

    m_side = new SidePanel(auth, session, m_factories.pagePicker);
    m_side->setFixedWidth(ui::pt(300));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(desk, 1);
    layout->addWidget(line);
    layout->addWidget(m_side);

    // Keyboard users start on the first room they can open.
    setFocusProxy(m_side->friendsPanel()->sketchbookRow());
    connect(&m_session, &SessionModel::roomIdChanged, this, &ContentView::refresh);
    refresh();
}

QWidget* ContentView::stageContent() const {
    return m_stage->currentWidget();
}

void ContentView::refresh() {
    if (!m_session.roomId()) {
        m_stage->setCurrentWidget(m_placeholder);
        return;
    }
    const bool opening = m_stage->currentWidget() != m_frame || !m_frame;
    if (!m_frame && m_factories.canvas) {
        m_frame = new PageFrame(m_factories.canvas(nullptr));
        m_stage->addWidget(m_frame);
    }
    if (m_frame) {
        m_stage->setCurrentWidget(m_frame);
        // The canvas takes the keyboard once a room opens, so Space starts colouring at once.
        if (opening && m_frame->content()) {
            m_frame->content()->setFocus(Qt::OtherFocusReason);
        }
    }
}

}  // namespace vellumora
