#include "canvasview/direct_input.h"

#include <QMouseEvent>
#include <QTabletEvent>
#include <QTouchEvent>
#include <QWidget>

#include <algorithm>

namespace vellumora {

DirectInput::DirectInput(QWidget& view) : QObject(&view), view_(view) {}

void DirectInput::setPointerMode(bool on) {
    if (on == pointerMode_) return;
    cancel();
    pointerMode_ = on;
    showHand();
}

QPointF DirectInput::uv(QPointF local) const {
    return {local.x() / std::max(view_.width(), 1), local.y() / std::max(view_.height(), 1)};
}

bool DirectInput::busyWith(Device device) const {
    return (drawing_ != Device::none && drawing_ != device) ||
           (panning_ != Device::none && panning_ != device);
}

bool DirectInput::mousePressed(const QMouseEvent& event) {
    if (!pointerMode_) return false;
    // A second button does not interrupt a drag.
    if (drawing_ != Device::none || panning_ != Device::none) return true;
    const Qt::MouseButton button = event.button();
    if (button == Qt::LeftButton && !spaceHeld_) {
        button_ = button;
        startStroke(Device::mouse, event.position(), 1.0);
    } else if (button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton) {
        spacePanned_ = spaceHeld_;
        button_ = button;
        startPan(Device::mouse, event.position());
    } else {
        return false;
    }
    return true;
}

bool DirectInput::mouseMoved(const QMouseEvent& event) {
    if (!pointerMode_) return false;
    if (drawing_ == Device::mouse) {
        emit strokeMoved(uv(event.position()), 1.0);
    } else if (panning_ == Device::mouse) {
        panTo(event.position());
    } else if (drawing_ == Device::none && panning_ == Device::none) {
        emit hovered(uv(event.position()));
    }
    return true;
}

bool DirectInput::mouseReleased(const QMouseEvent& event) {
    if (!pointerMode_ || event.button() != button_) return false;
    if (drawing_ == Device::mouse) {
        endStroke();
    } else if (panning_ == Device::mouse) {
        endPan();
    } else {
        return false;
    }
    return true;
}

void DirectInput::tablet(QTabletEvent& event) {
    penSeen_.start();
    // Used either way, so no mouse event is made up from it.
    event.accept();
    const QPointF local = event.position();
    const bool hasPressure = event.pointingDevice() && event.pointingDevice()->capabilities().testFlag(
                                                           QInputDevice::Capability::Pressure);
    const double pressure = hasPressure ? std::clamp(event.pressure(), 0.0, 1.0) : 1.0;
    switch (event.type()) {
        case QEvent::TabletPress:
            if (busyWith(Device::pen) || drawing_ == Device::pen || panning_ == Device::pen) return;
            if (event.button() == Qt::LeftButton) {
                button_ = Qt::LeftButton;
                // Turned over, the pen erases, as in any drawing program.
                startStroke(Device::pen, local, pressure,
                            event.pointerType() == QPointingDevice::PointerType::Eraser);
            } else if (event.button() == Qt::RightButton || event.button() == Qt::MiddleButton) {
                button_ = event.button();
                startPan(Device::pen, local);
            }
            return;
        case QEvent::TabletMove:
            if (drawing_ == Device::pen) {
                emit strokeMoved(uv(local), pressure);
            } else if (panning_ == Device::pen) {
                panTo(local);
            } else if (!busyWith(Device::pen)) {
                emit hovered(uv(local));
            }
            return;
        case QEvent::TabletRelease:
            if (event.button() != button_) return;
            if (drawing_ == Device::pen) endStroke();
            if (panning_ == Device::pen) endPan();
            return;
        default:
            return;
    }
}

void DirectInput::touch(const QTouchEvent& event) {
    std::vector<TouchScreenGesture::Step> steps;
    if (event.type() == QEvent::TouchCancel || busyWith(Device::touch)) {
        // A palm while the pen or the mouse draws is no gesture.
        steps = fingers_.cancel();
    } else {
        std::vector<TouchScreenGesture::Finger> fingers;
        for (const QEventPoint& point : event.points()) {
            if (point.state() != QEventPoint::Released) fingers.push_back({point.id(), point.position()});
        }
        steps = fingers_.update(fingers);
    }
    using Kind = TouchScreenGesture::Step::Kind;
    for (const TouchScreenGesture::Step& step : steps) {
        switch (step.kind) {
            case Kind::penDown:
                startStroke(Device::touch, step.point, 1.0);
                break;
            case Kind::penMove:
                if (drawing_ == Device::touch) emit strokeMoved(uv(step.point), 1.0);
                break;
            case Kind::penUp:
                if (drawing_ == Device::touch) endStroke();
                break;
            case Kind::panZoom:
                // Pan first, then zoom about where the fingers are now: the page stays under them.
                if (!step.pan.isNull()) panBy(step.pan);
                if (step.scale != 1) emit zoomed(step.scale - 1, uv(step.point));
                break;
        }
    }
}

void DirectInput::spacePressed() {
    spaceHeld_ = true;
    spacePanned_ = panning_ != Device::none;
    showHand();
}

bool DirectInput::spaceReleased() {
    if (!spaceHeld_) return false;  // pressed before the view had the keyboard
    spaceHeld_ = false;
    showHand();
    return !spacePanned_;
}

void DirectInput::keyboardLost() {
    spaceHeld_ = false;
    showHand();
}

void DirectInput::cancel() {
    if (drawing_ != Device::none) endStroke();
    if (panning_ != Device::none) endPan();
    fingers_.cancel();
    keyboardLost();
}

void DirectInput::startPan(Device device, QPointF local) {
    panning_ = device;
    panFrom_ = local;
    showHand();
}

void DirectInput::panTo(QPointF local) {
    const QPointF delta = local - panFrom_;
    panFrom_ = local;
    if (!delta.isNull()) panBy(delta);
}

void DirectInput::panBy(QPointF pixels) {
    emit panned(pixels.x() / std::max(view_.width(), 1), pixels.y() / std::max(view_.height(), 1));
}

void DirectInput::endPan() {
    panning_ = Device::none;
    button_ = Qt::NoButton;
    showHand();
}

void DirectInput::startStroke(Device device, QPointF local, double pressure, bool eraser) {
    drawing_ = device;
    emit strokeStarted(uv(local), pressure, eraser);
}

void DirectInput::endStroke() {
    drawing_ = Device::none;
    button_ = Qt::NoButton;
    emit strokeEnded();
}

void DirectInput::showHand() {
    // Canvas mode hides the pointer; the hand is only pointer mode's.
    if (!pointerMode_) return;
    if (panning_ == Device::mouse) {
        view_.setCursor(Qt::ClosedHandCursor);
    } else if (spaceHeld_) {
        view_.setCursor(Qt::OpenHandCursor);
    } else {
        view_.unsetCursor();
    }
}

}  // namespace vellumora
