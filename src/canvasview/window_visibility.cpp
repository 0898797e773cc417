#include "canvasview/window_visibility.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#if defined(VELLUMORA_WITH_XCB) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#define VELLUMORA_X11_VISIBILITY 1
#endif

namespace vellumora {

namespace {

#ifdef VELLUMORA_X11_VISIBILITY
xcb_connection_t* x11Connection() {
    const auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The toolkit does not ask X for visibility changes of its windows; add them to what it asks.
void askForVisibility(xcb_connection_t* connection, xcb_window_t window) {
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    if (!attributes) return;
    const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    std::free(attributes);
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
}
#endif

}  // namespace

WindowVisibility::WindowVisibility(QWidget& widget) : QObject(&widget), widget_(widget) {
#ifdef VELLUMORA_X11_VISIBILITY
    if (x11Connection()) QCoreApplication::instance()->installNativeEventFilter(this);
#endif
}

WindowVisibility::~WindowVisibility() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

void WindowVisibility::refresh() {
    QWindow* window = widget_.window()->windowHandle();
    if (window != window_) watch(window);
    const bool visible = widget_.isVisible() && window_ && window_->isExposed() &&
                         !window_->windowStates().testFlag(Qt::WindowMinimized) && !obscured_;
    if (visible == visible_) return;
    visible_ = visible;
    emit visibleChanged(visible);
}

void WindowVisibility::watch(QWindow* window) {
    if (window_) window_->removeEventFilter(this);
    window_ = window;
    obscured_ = false;
    nativeWindow_ = 0;
    if (!window) return;
    window->installEventFilter(this);
#ifdef VELLUMORA_X11_VISIBILITY
    if (xcb_connection_t* connection = x11Connection()) {
        nativeWindow_ = static_cast<unsigned>(window->winId());
        askForVisibility(connection, nativeWindow_);
    }
#endif
}

bool WindowVisibility::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
            case QEvent::Expose:
            case QEvent::WindowStateChange:
            case QEvent::Show:
            case QEvent::Hide:
                // After the window has taken the change in.
                QMetaObject::invokeMethod(this, &WindowVisibility::refresh, Qt::QueuedConnection);
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool WindowVisibility::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#ifdef VELLUMORA_X11_VISIBILITY
    if (nativeWindow_ == 0 || eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_VISIBILITY_NOTIFY) return false;
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    if (visibility->window != nativeWindow_) return false;
    obscured_ = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
    QMetaObject::invokeMethod(this, &WindowVisibility::refresh, Qt::QueuedConnection);
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
#endif
    return false;
}

}  // namespace vellumora
