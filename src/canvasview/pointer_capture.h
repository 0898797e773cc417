#pragma once
// Canvas mode's hold on the pointer: grabbed, hidden and put back at the view's centre after
// every move, so its motion drives the canvas cursor as a finger on a virtual pad (see
// PointerEmulation). It is let go whenever the view may not have it: hidden, without focus, in
// an inactive window or application.

#include "canvasview/pointer_emulation.h"

#include <QObject>
#include <QPoint>
#include <QPointF>

#include <vector>

class QMouseEvent;
class QWidget;

namespace vellumora {

class PointerCapture : public QObject {
    Q_OBJECT

  public:
    // Lives as a child of `view`, whose pointer it takes.
    explicit PointerCapture(QWidget& view);

    bool isCaptured() const { return captured_; }
    // Takes the pointer when the view is visible, has the keyboard and its window is active.
    void captureIfAllowed();
    void release();

    // The view's pointer events: handled (true) while captured, else left to the view.
    bool mousePressed(const QMouseEvent& event);
    bool mouseReleased(const QMouseEvent& event);
    bool mouseMoved(const QMouseEvent& event);

  signals:
    // The virtual pad's fingers changed.
    void touches(const std::vector<vellumora::TouchSample>& touches);
    // The pointer went while the pen was down: the fingers are lifted without a gesture.
    void touchesCancelled();

  private:
    QPoint centre() const;
    void emitAll(const std::vector<PointerEmulation::TouchSet>& sets);

    QWidget& view_;
    PointerEmulation emulation_;
    bool captured_ = false;
    QPointF lastPointer_;  // where the last pointer event put it, in the view
};

}  // namespace vellumora
