#include "canvasview/pointer_capture.h"

#include <algorithm>

#include <QCursor>
#include <QMouseEvent>
#include <QWidget>

namespace vellumora {

PointerCapture::PointerCapture(QWidget& view) : QObject(&view), view_(view) {}

QPoint PointerCapture::centre() const {
    return view_.rect().center();
}

void PointerCapture::captureIfAllowed() {
    if (captured_ || !view_.isVisible() || !view_.hasFocus() || !view_.isActiveWindow()) return;
    captured_ = true;
    emulation_.reset();
    view_.setCursor(Qt::BlankCursor);
    view_.grabMouse(Qt::BlankCursor);
    lastPointer_ = view_.mapFromGlobal(QCursor::pos());
    QCursor::setPos(view_.mapToGlobal(centre()));
    // The fingers rest on the pad from now on, so the very first motion moves the cursor.
    emit touches(emulation_.move(0, 0));
}

void PointerCapture::release() {
    if (!captured_) return;
    captured_ = false;
    view_.releaseMouse();
    view_.unsetCursor();
    const bool penWasDown = emulation_.isButtonDown();
    emulation_.reset();
    if (penWasDown) emit touchesCancelled();
}

bool PointerCapture::mousePressed(const QMouseEvent& event) {
    if (!captured_) return false;
    if (event.button() == Qt::LeftButton) emitAll(emulation_.press());
    return true;
}

bool PointerCapture::mouseReleased(const QMouseEvent& event) {
    if (!captured_) return false;
    if (event.button() == Qt::LeftButton) emitAll(emulation_.release());
    return true;
}

bool PointerCapture::mouseMoved(const QMouseEvent& event) {
    if (!captured_) return false;
    // Motion is measured from the previous event: one the window system queued before it
    // carried out the last warp still lies in the old frame. The warp's own echo at the centre
    // starts the new frame and carries no motion.
    const QPointF position = event.position();
    const QPointF delta = position == QPointF(centre()) ? QPointF() : position - lastPointer_;
    lastPointer_ = position;
    if (delta.isNull() || view_.width() <= 0 || view_.height() <= 0) return true;
    // In canvas widths: the square canvas spans the shorter side, and the cursor keeps pace
    // with the pointer on both axes.
    const double side = std::min(view_.width(), view_.height());
    emit touches(emulation_.move(delta.x() / side, delta.y() / side));
    if (captured_) QCursor::setPos(view_.mapToGlobal(centre()));
    return true;
}

void PointerCapture::emitAll(const std::vector<PointerEmulation::TouchSet>& sets) {
    for (const PointerEmulation::TouchSet& set : sets) emit touches(set);
}

}  // namespace vellumora
