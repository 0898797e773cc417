#include "canvasview/canvas_input_view.h"

#include "canvas/gl_drivers.h"
#include "canvasview/replay_overlay.h"
#include "ui/styles.h"

#include <QApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QSurfaceFormat>
#include <QTabletEvent>
#include <QTouchEvent>
#include <QWheelEvent>

#include <algorithm>
#include <utility>
#include <cmath>

namespace vellumora {

namespace {

// One wheel notch (120 eighths of a degree) scrolls this many pixels per scroll line.
constexpr double kPixelsPerLine = 20.0;
// Trackpads report pixels: this many count as one wheel notch.
constexpr double kPixelsPerNotch = 50.0;
// One Ctrl + wheel notch zooms by this factor minus one.
constexpr double kZoomPerNotch = 0.1;

bool isResetZoom(const QKeyEvent* event) {
    return event->key() == Qt::Key_0 && event->modifiers().testFlag(Qt::ControlModifier);
}

}  // namespace

QSurfaceFormat CanvasInputView::surfaceFormat() {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

bool CanvasInputView::isOpenGLAvailable() {
    static const bool available = [] {
        QOpenGLContext probe;
        probe.setFormat(surfaceFormat());
        return probe.create();
    }();
    return available;
}

CanvasInputView::CanvasInputView(QWidget* parent)
    : QOpenGLWidget(parent),
      renderer_(std::make_unique<Renderer>()),
      capture_(new PointerCapture(*this)),
      direct_(new DirectInput(*this)),
      visibility_(new WindowVisibility(*this)) {
    setFormat(surfaceFormat());
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_AcceptTouchEvents);
    // Tablet events while the pen only hovers, too: friends see where it is.
    setAttribute(Qt::WA_TabletTracking);
    setMouseTracking(true);
    setAccessibleName(QStringLiteral("Canvas"));
    setMinimumSize(64, 64);

    QObject::connect(&pacer_, &FramePacer::frameDue, this, [this] { update(); });
    // Until the window shows, frames come only from the toolkit's first paint.
    pacer_.setPresenting(false);
    QObject::connect(visibility_, &WindowVisibility::visibleChanged, &pacer_, &FramePacer::setPresenting);
    QObject::connect(direct_, &DirectInput::panned, this, &CanvasInputView::scrollPanRequested);
    QObject::connect(direct_, &DirectInput::zoomed, this, &CanvasInputView::pinchMagnificationRequested);
    QObject::connect(this, &QOpenGLWidget::frameSwapped, this, &CanvasInputView::onFrameSwapped);
    QObject::connect(capture_, &PointerCapture::touches, this, &CanvasInputView::handleTouches);
    QObject::connect(capture_, &PointerCapture::touchesCancelled, this,
                     &CanvasInputView::handleTouchesCancelled);
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, this,
                     [this](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             capturePointerIfAllowed();
                         } else {
                             capture_->release();
                         }
                     });
}

CanvasInputView::~CanvasInputView() {
    capture_->release();
    // The base class destroys the context after this object is gone.
    if (context()) QObject::disconnect(context(), nullptr, this, nullptr);
    makeCurrent();
    renderer_.reset();
    doneCurrent();
}

void CanvasInputView::setIsInCanvasMode(bool on) {
    if (on == isInCanvasMode_) return;
    isInCanvasMode_ = on;
    if (on) {
        direct_->setPointerMode(false);
        // The canvas cursor starts under the pointer.
        if (const auto p = normalizedMousePositionIfOverCanvas()) {
            const Vec2f c =
                renderer_->mapping().toCanvas({static_cast<float>(p->x()), static_cast<float>(p->y())});
            gestureMachine_.setCursor(std::clamp(c.x, 0.0f, 1.0f), std::clamp(c.y, 0.0f, 1.0f));
        }
        capturePointerIfAllowed();
    } else {
        gestureMachine_.reset();
        capture_->release();
        // The pointer shows up again where the canvas cursor was.
        const CanvasPoint cursor = gestureMachine_.cursor();
        const Vec2f uv =
            renderer_->mapping().toView({static_cast<float>(cursor.x), static_cast<float>(cursor.y)});
        warpOSCursor({uv.x, uv.y});
        direct_->setPointerMode(true);
    }
}

bool CanvasInputView::paintInkNow() {
    if (!renderer_->isInitialized() || !isValid()) return false;
    makeCurrent();
    renderer_->paintInk();
    doneCurrent();
    return true;
}

bool CanvasInputView::startPicture() {
    if (!renderer_->isInitialized() || !isValid()) return false;
    makeCurrent();
    const bool started = renderer_->startPicture();
    doneCurrent();
    // A frame would queue behind the composite on a software rasteriser and wait for it to be
    // drawn: none until it is read back.
    if (started) {
        pictureInFlight_ = true;
        pacer_.setOnRequest(true);
    }
    return started;
}

std::optional<QImage> CanvasInputView::finishedPicture() {
    if (!renderer_->isInitialized() || !isValid()) return QImage();
    makeCurrent();
    std::optional<QImage> picture = renderer_->finishedPicture();
    doneCurrent();
    if (picture && std::exchange(pictureInFlight_, false)) pacer_.setOnRequest(replayProgress_.has_value());
    return picture;
}

std::size_t CanvasInputView::inkInFlight() {
    if (!renderer_->isInitialized() || !isValid()) return 0;
    makeCurrent();
    const std::size_t count = renderer_->inkInFlight();
    doneCurrent();
    return count;
}

void CanvasInputView::setReplayProgress(std::optional<double> progress) {
    const bool wasReplaying = replayProgress_.has_value();
    replayProgress_ = progress;
    if (!progress && wasReplaying) {
        replayLabel_.clear();
        renderer_->setOverlay({});
        setAccessibleDescription({});
    }
    // The label first shows with the first progress frame: showing it is a frame of its own.
    pacer_.setOnRequest(progress.has_value() || pictureInFlight_);
}

void CanvasInputView::requestReplayFrame() {
    // The label changes with the frame, so both are presented together.
    updateReplayLabel();
    update();
}

void CanvasInputView::updateReplayLabel(bool force) {
    if (!replayProgress_) return;
    // Only whole percents show: painting the label for each slice would be wasted.
    const QString label = replayProgressText(*replayProgress_);
    if (label == replayLabel_ && !force) return;
    replayLabel_ = label;
    renderer_->setOverlay(paintReplayOverlay(*replayProgress_, size(), devicePixelRatioF()));
    setAccessibleDescription(label);
}

void CanvasInputView::handleTouches(const std::vector<TouchSample>& touches) {
    if (isInCanvasMode_ && !isPinching_) gestureMachine_.update(touches);
}

void CanvasInputView::handleTouchesCancelled() {
    if (isInCanvasMode_) gestureMachine_.update({});
}

std::vector<TouchSample> CanvasInputView::touchSamples(const QList<QEventPoint>& points, bool fromTouchPad) {
    std::vector<TouchSample> samples;
    samples.reserve(static_cast<std::size_t>(points.size()));
    for (const QEventPoint& point : points) {
        if (point.state() == QEventPoint::Released) continue;
        const QPointF p = point.normalizedPosition();  // top-left origin
        samples.push_back(
            {fromTouchPad ? TouchKind::indirect : TouchKind::direct, point.id(), {p.x(), 1.0 - p.y()}});
    }
    return samples;
}

std::optional<QPointF> CanvasInputView::normalizedMousePositionIfOverCanvas() const {
    if (!isVisible() || width() <= 0 || height() <= 0) return std::nullopt;
    const QPointF local = mapFromGlobal(QCursor::pos());
    if (!rect().contains(local.toPoint())) return std::nullopt;
    return QPointF(local.x() / width(), local.y() / height());
}

void CanvasInputView::warpOSCursor(QPointF normalized) {
    if (!isVisible()) return;
    QCursor::setPos(mapToGlobal(QPointF(width() * normalized.x(), height() * normalized.y())).toPoint());
}

void CanvasInputView::initializeGL() {
    // A renderer that could not start once will not start in the next context either.
    if (!startupFailure_.isEmpty()) return;
    QObject::connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &CanvasInputView::releaseGL,
                     Qt::UniqueConnection);
    const QString error = renderer_->initialize();
    if (!error.isEmpty()) {
        fail(error);
        return;
    }
    putRasterThreadsBehindCaller();
    emit glInitialized();
}

void CanvasInputView::releaseGL() {
    makeCurrent();
    renderer_->releaseGL();
    doneCurrent();
}

void CanvasInputView::paintGL() {
    pacer_.frameStarted();
    const qreal ratio = devicePixelRatioF();
    if (!renderer_->isInitialized()) {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.setPen(Qt::white);
        painter.setFont(ui::font(ui::TextStyle::body));
        painter.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                         startupFailure_);
        return;
    }
    renderer_->resize(static_cast<int>(std::lround(width() * ratio)),
                      static_cast<int>(std::lround(height() * ratio)));
    renderer_->render(defaultFramebufferObject());
}

void CanvasInputView::resizeEvent(QResizeEvent* event) {
    QOpenGLWidget::resizeEvent(event);
    updateReplayLabel(true);
}

void CanvasInputView::onFrameSwapped() {
    emit frameDone(pacer_.framePresented());
}

bool CanvasInputView::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // The canvas keys win over any shortcut of the window while the canvas has focus.
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space || isResetZoom(key) ||
                (key->key() == Qt::Key_Escape && isInCanvasMode_)) {
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel: {
            auto* touch = static_cast<QTouchEvent*>(event);
            const bool pad = touch->device() && touch->device()->type() == QInputDevice::DeviceType::TouchPad;
            if (!pad) {
                direct_->touch(*touch);
            } else if (event->type() == QEvent::TouchCancel) {
                handleTouchesCancelled();
            } else {
                handleTouches(touchSamples(touch->points(), pad));
            }
            event->accept();
            return true;
        }
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
            direct_->tablet(*static_cast<QTabletEvent*>(event));
            return true;
        case QEvent::NativeGesture: {
            auto* gesture = static_cast<QNativeGestureEvent*>(event);
            pinch(gesture->gestureType(), gesture->value(), gesture->position());
            event->accept();
            return true;
        }
        default:
            break;
    }
    return QOpenGLWidget::event(event);
}

void CanvasInputView::pinch(Qt::NativeGestureType type, double value, QPointF position) {
    switch (type) {
        case Qt::ZoomNativeGesture:
            // Begin events announce every kind of gesture; a pinch starts with its first step.
            if (!isPinching_) {
                isPinching_ = true;
                gestureMachine_.reset();
                pinchAnchorUV_ = anchorFor(position);
            }
            emit pinchMagnificationRequested(value, pinchAnchorUV_);
            break;
        case Qt::EndNativeGesture:
            isPinching_ = false;
            break;
        default:
            break;
    }
}

QPointF CanvasInputView::anchorFor(QPointF position) const {
    const double w = std::max(width(), 1);
    const double h = std::max(height(), 1);
    return {std::clamp(position.x() / w, 0.0, 1.0), std::clamp(position.y() / h, 0.0, 1.0)};
}

void CanvasInputView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        // Held down, the key repeats: the mode toggles once, when it is let go.
        if (!event->isAutoRepeat()) direct_->spacePressed();
        event->accept();
        return;
    }
    if (isResetZoom(event)) {
        emit resetZoomRequested();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && isInCanvasMode_) {
        // The way back to a free pointer works even with nobody listening.
        emit leaveCanvasModeRequested();
        if (isInCanvasMode_) setIsInCanvasMode(false);
        event->accept();
        return;
    }
    QOpenGLWidget::keyPressEvent(event);
}

void CanvasInputView::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat() && direct_->spaceReleased()) emit toggleCanvasModeRequested();
        event->accept();
        return;
    }
    QOpenGLWidget::keyReleaseEvent(event);
}

void CanvasInputView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        // Ctrl + wheel is a pinch in steps, anchored under the pointer.
        const double notches = event->pixelDelta().isNull() ? event->angleDelta().y() / 120.0
                                                            : event->pixelDelta().y() / kPixelsPerNotch;
        if (notches != 0) {
            gestureMachine_.reset();
            emit pinchMagnificationRequested(notches * kZoomPerNotch, anchorFor(event->position()));
        }
        event->accept();
        return;
    }
    if (isInCanvasMode_ || width() <= 0 || height() <= 0) {
        event->ignore();
        return;
    }
    QPointF delta = event->pixelDelta();
    if (delta.isNull()) {
        delta = QPointF(event->angleDelta()) / 120.0 * QApplication::wheelScrollLines() * kPixelsPerLine;
    }
    const double dx = delta.x() / width();
    const double dy = delta.y() / height();
    if (dx != 0 || dy != 0) emit scrollPanRequested(dx, dy);
    event->accept();
}

// The pen moves the system pointer too: what it makes of that is no mouse.
void CanvasInputView::mousePressEvent(QMouseEvent* event) {
    if (direct_->isPenNear() || capture_->mousePressed(*event) || direct_->mousePressed(*event)) {
        event->accept();
        return;
    }
    QOpenGLWidget::mousePressEvent(event);
}

void CanvasInputView::mouseReleaseEvent(QMouseEvent* event) {
    if (capture_->mouseReleased(*event) || direct_->mouseReleased(*event)) {
        event->accept();
        return;
    }
    QOpenGLWidget::mouseReleaseEvent(event);
}

void CanvasInputView::mouseMoveEvent(QMouseEvent* event) {
    if (direct_->isPenNear() || capture_->mouseMoved(*event) || direct_->mouseMoved(*event)) {
        event->accept();
        return;
    }
    QOpenGLWidget::mouseMoveEvent(event);
}

void CanvasInputView::focusInEvent(QFocusEvent* event) {
    QOpenGLWidget::focusInEvent(event);
    capturePointerIfAllowed();
}

void CanvasInputView::focusOutEvent(QFocusEvent* event) {
    QOpenGLWidget::focusOutEvent(event);
    capture_->release();
    direct_->keyboardLost();
}

void CanvasInputView::changeEvent(QEvent* event) {
    QOpenGLWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (isActiveWindow()) {
        capturePointerIfAllowed();
    } else {
        capture_->release();
    }
}

void CanvasInputView::showEvent(QShowEvent* event) {
    QOpenGLWidget::showEvent(event);
    visibility_->refresh();
    capturePointerIfAllowed();
}

void CanvasInputView::fail(const QString& message) {
    if (!startupFailure_.isEmpty()) return;
    startupFailure_ = message;
    emit startupFailed(message);
}

void CanvasInputView::hideEvent(QHideEvent* event) {
    capture_->release();
    direct_->cancel();
    QOpenGLWidget::hideEvent(event);
    visibility_->refresh();
}

void CanvasInputView::capturePointerIfAllowed() {
    if (isInCanvasMode_) capture_->captureIfAllowed();
}

}  // namespace vellumora
