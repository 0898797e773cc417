#pragma once
// The signed-in layout: the desk with the framed canvas of the open room (or a placeholder
// while none is open), a divider, and the side panel.

#include <QPointer>
#include <QWidget>

#include "app/view_factories.h"

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

  private:
    void refresh();

    SessionModel& session_;
    ViewFactories factories_;
    QStackedLayout* stage_;
    NoRoomPlaceholder* placeholder_;
    PageFrame* frame_ = nullptr;
    SidePanel* side_;
};

}  // namespace vellumora
