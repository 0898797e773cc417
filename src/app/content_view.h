#pragma once
// The signed-in layout: the desk with the framed canvas of the open room (or a placeholder
// while none is open), a divider, and the side panel.

#include <QPointer>
#include <QWidget>

#include "app/shortcuts.h"
#include "app/view_factories.h"

class QAction;
class QStackedLayout;

namespace vellumora {

class AuthModel;
class NoRoomPlaceholder;
class PageFrame;
class SessionModel;
class SidePanel;

class ContentView : public QWidget {
    Q_OBJECT
  public:
    ContentView(AuthModel& auth, SessionModel& session, ViewFactories factories, QWidget* parent = nullptr);

    SidePanel* sidePanel() const { return side_; }
    NoRoomPlaceholder* placeholder() const { return placeholder_; }
    // The framed canvas, made when a room is first opened; null before.
    PageFrame* pageFrame() const { return frame_; }
    // What the stage shows now: the framed canvas or the placeholder.
    QWidget* stageContent() const;
    // "Export picture…" and "Copy picture", in the account menu and on their keys anywhere in
    // the window while a room is open.
    QAction* exportAction() const { return export_; }
    QAction* copyAction() const { return copy_; }

  private:
    void refresh();
    // An action on the open room's canvas, bound to its row of the shortcut table.
    QAction* canvasAction(const QString& text, ShortcutAction action, WidgetAction run);

    SessionModel& session_;
    ViewFactories factories_;
    QStackedLayout* stage_;
    NoRoomPlaceholder* placeholder_;
    PageFrame* frame_ = nullptr;
    SidePanel* side_;
    QAction* export_;
    QAction* copy_;
};

}  // namespace vellumora
