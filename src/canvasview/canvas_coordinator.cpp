#include "canvasview/canvas_coordinator.h"

#include "canvas/renderer.h"
#include "canvas/view_mapping.h"
#include "canvasview/canvas_input_view.h"
#include "canvasview/peer_label.h"
#include "net/network_client.h"

#include <QFuture>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <chrono>
#include <variant>

namespace vellumora {

namespace {

double systemClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

Color4f toColor4f(const WireColor& c) {
    return {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
            static_cast<float>(c.a)};
}

Vec2f toVec2f(CanvasPoint p) {
    return {static_cast<float>(p.x), static_cast<float>(p.y)};
}

// The page's image and its declared type; none without one.
std::optional<std::pair<QByteArray, QString>> imageOf(const std::optional<CurrentPage>& page) {
    if (!page || !page->imageData) return std::nullopt;
    return std::pair(*page->imageData, page->mimeType);
}

}  // namespace

CanvasCoordinator::CanvasCoordinator(QObject* parent) : QObject(parent), clock_(systemClock) {
    pumpTimer_.setSingleShot(true);
    pumpTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pumpTimer_, &QTimer::timeout, this, &CanvasCoordinator::pumpInk);
}

CanvasCoordinator::~CanvasCoordinator() {
    if (view_ && view_->gestureMachine().delegate() == this) view_->gestureMachine().setDelegate(nullptr);
}

void CanvasCoordinator::setClock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock(systemClock);
}

double CanvasCoordinator::now() const {
    return clock_();
}

void CanvasCoordinator::bind(CanvasInputView* view, Renderer& renderer, SessionModel& session) {
    view_ = view;
    renderer_ = &renderer;
    session_ = &session;
    if (view) {
        view->gestureMachine().setDelegate(this);
        installRequests();
        const DirectInput* direct = &view->directInput();
        QObject::connect(direct, &DirectInput::strokeStarted, this, &CanvasCoordinator::directStrokeStart);
        QObject::connect(direct, &DirectInput::strokeMoved, this, &CanvasCoordinator::directStrokePoint);
        QObject::connect(direct, &DirectInput::strokeEnded, this, &CanvasCoordinator::directStrokeEnd);
        QObject::connect(direct, &DirectInput::hovered, this, &CanvasCoordinator::directHover);
        QObject::connect(view, &CanvasInputView::glInitialized, this, &CanvasCoordinator::restoreInk);
        QObject::connect(view, &CanvasInputView::frameDone, this, [this] { frameDone(); });
        QObject::connect(&session.network(), &NetworkClient::largeMessagePending, view,
                         &CanvasInputView::setBacklogArriving);
    }
    subscribe();
    if (view) view->setIsInCanvasMode(session.isInCanvasMode());
    applyCanvasMode(session.isInCanvasMode());
}

void CanvasCoordinator::installRequests() {
    SessionModel* session = session_;
    // The session is the context: the requests end with it.
    QObject::connect(view_, &CanvasInputView::toggleCanvasModeRequested, session,
                     [session] { session->setIsInCanvasMode(!session->isInCanvasMode()); });
    QObject::connect(view_, &CanvasInputView::leaveCanvasModeRequested, session,
                     [session] { session->setIsInCanvasMode(false); });
    // The view speaks in fractions of itself, the session in canvas widths: the square canvas
    // spans only the shorter side.
    Renderer* renderer = renderer_;
    QObject::connect(view_, &CanvasInputView::pinchMagnificationRequested, session,
                     [session, renderer](double magnification, QPointF anchor) {
                         const Vec2f a = renderer->mapping().toSquare(
                             {static_cast<float>(anchor.x()), static_cast<float>(anchor.y())});
                         session->applyPinchFactor(1.0 + magnification, QPointF(a.x, a.y));
                     });
    QObject::connect(view_, &CanvasInputView::resetZoomRequested, session, [session] {
        session->setZoom(1.0);
        session->setPan({0, 0});
    });
    QObject::connect(view_, &CanvasInputView::scrollPanRequested, session,
                     [session, renderer](double dx, double dy) {
                         const double z = std::max(session->zoom(), 0.0001);
                         const Vec2f k = renderer->mapping().squareScale();
                         session->applyPanDelta(-dx * k.x / z, -dy * k.y / z);
                     });
}

void CanvasCoordinator::subscribe() {
    SessionModel& session = *session_;
    // Each delivers the current value first, then every later one.
    QObject::connect(&session, &SessionModel::zoomChanged, this, &CanvasCoordinator::applyZoom);
    applyZoom(session.zoom());
    QObject::connect(&session, &SessionModel::panChanged, this, [this](QSizeF pan) {
        renderer_->setPan({static_cast<float>(pan.width()), static_cast<float>(pan.height())});
    });
    renderer_->setPan(
        {static_cast<float>(session.pan().width()), static_cast<float>(session.pan().height())});
    QObject::connect(&session, &SessionModel::currentPageChanged, this,
                     [this](const OptionalCurrentPage& page) { setLineArt(imageOf(page)); });
    setLineArt(imageOf(session.currentPage()));
    QObject::connect(&session, &SessionModel::canvasEvents, this, &CanvasCoordinator::handleCanvasEvent);
    QObject::connect(&session, &SessionModel::peerCursorsChanged, this, &CanvasCoordinator::syncPeerCursors);
    syncPeerCursors(session.peerCursors());
    QObject::connect(&session, &SessionModel::peerNameByIdChanged, this, &CanvasCoordinator::syncPeerLabels);
    QObject::connect(&session, &SessionModel::peerColorByIdChanged, this, &CanvasCoordinator::syncPeerLabels);
    syncPeerLabels();
    QObject::connect(&session, &SessionModel::isInCanvasModeChanged, this,
                     &CanvasCoordinator::applyCanvasMode);
    applyCanvasMode(session.isInCanvasMode());
}

void CanvasCoordinator::applyZoom(double zoom) {
    renderer_->setZoom(static_cast<float>(zoom));
    if (view_) view_->gestureMachine().sensitivity = 1.0 / std::max(zoom, 0.0001);
}

void CanvasCoordinator::setLineArt(const std::optional<std::pair<QByteArray, QString>>& image) {
    // The page arrives twice (as state, then as its event); decoding it once is enough.
    if (lineArtSet_ && lineArt_ == image) return;
    lineArtSet_ = true;
    lineArt_ = image;
    const std::uint64_t request = ++lineArtRequest_;
    if (!image) return renderer_->setLineArt(QImage());
    // Decoded off the GUI thread: a large page takes hundreds of milliseconds. A later page wins.
    QtConcurrent::run([image = *image] {
        return decodeLineArt(image.first, image.second);
    }).then(this, [this, request](const QImage& image) {
        if (request == lineArtRequest_) renderer_->setLineArt(image);
    });
}

Color4f CanvasCoordinator::ownColor() const {
    const ArtColor& c = session_->color();
    return {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b), 1.0f};
}

void CanvasCoordinator::send(const ClientMessage& message) {
    session_->send(message);
    emit messageSent(message);
}

void CanvasCoordinator::gestureDidStartStroke(CanvasPoint at) {
    startStroke(at, 1.0, StrokeSource::gesture);
}

void CanvasCoordinator::gestureDidAppendPoint(CanvasPoint point) {
    appendStrokePoint(point, 1.0, StrokeSource::gesture);
}

void CanvasCoordinator::gestureDidEndStroke() {
    endStroke(StrokeSource::gesture);
}

void CanvasCoordinator::gestureDidUpdateCursor(CanvasPoint point, bool isDrawing) {
    if (!renderer_ || !session_ || !session_->isInCanvasMode()) return;
    renderer_->setSelfCursor(CursorViz{toVec2f(point), ownColor(), isDrawing});
    broadcastCursor(point);
}

void CanvasCoordinator::directStrokeStart(QPointF viewUV, double pressure, bool eraser) {
    if (!renderer_) return;
    const CanvasPoint at = canvasPointAt(viewUV);
    // A stroke starts on the paper; it may then leave it.
    if (at.x < 0 || at.x > 1 || at.y < 0 || at.y > 1) return;
    startStroke(at, pressure, StrokeSource::direct, eraser);
    if (strokeSource_ == StrokeSource::direct) shareDirectCursor(at, true);
}

void CanvasCoordinator::directStrokePoint(QPointF viewUV, double pressure) {
    if (strokeSource_ != StrokeSource::direct) return;
    const CanvasPoint point = canvasPointAt(viewUV);
    appendStrokePoint(point, pressure, StrokeSource::direct);
    shareDirectCursor(point, true);
}

void CanvasCoordinator::directStrokeEnd() {
    endStroke(StrokeSource::direct);
}

void CanvasCoordinator::directHover(QPointF viewUV) {
    if (!renderer_) return;
    const CanvasPoint point = canvasPointAt(viewUV);
    if (point.x >= 0 && point.x <= 1 && point.y >= 0 && point.y <= 1) shareDirectCursor(point, false);
}

CanvasPoint CanvasCoordinator::canvasPointAt(QPointF viewUV) const {
    const Vec2f p =
        renderer_->mapping().toCanvas({static_cast<float>(viewUV.x()), static_cast<float>(viewUV.y())});
    // A drag may leave the view by any distance; the room takes points this far off the page.
    const auto reach = [](float v) { return std::clamp(static_cast<double>(v), -1.0, 2.0); };
    return {reach(p.x), reach(p.y)};
}

void CanvasCoordinator::shareDirectCursor(CanvasPoint point, bool isDrawing) {
    if (!renderer_ || !session_) return;
    if (!session_->isInCanvasMode() || !view_) {
        broadcastCursor(point);
    } else if (isDrawing) {
        renderer_->setSelfCursor(CursorViz{toVec2f(point), ownColor(), true});
        broadcastCursor(point);
    } else {
        // The canvas cursor follows the pen, so the touchpad goes on from where the pen was.
        view_->gestureMachine().setCursor(point.x, point.y);
    }
}

void CanvasCoordinator::broadcastCursor(CanvasPoint point) {
    const double t = now();
    if (t - lastCursorBroadcast_ > kCursorInterval) {
        lastCursorBroadcast_ = t;
        send(ClientMessage::cursor(point.x, point.y));
    }
}

void CanvasCoordinator::startStroke(CanvasPoint at, double pressure, StrokeSource source, bool eraser) {
    if (!renderer_ || !session_) return;
    // Nobody signed in: nothing is drawn or sent, and the rest of the gesture finds no stroke.
    const QString userId = session_->currentUserId();
    if (userId.isEmpty()) return;
    // One stroke at a time: another device that starts one ends the one under way.
    if (strokeSource_) endStroke(*strokeSource_);

    const std::string id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    currentStrokeId_ = id;
    strokeSource_ = source;
    const ArtColor& color = session_->color();
    // The pen's eraser end keeps the brush's size only when the eraser is the tool chosen.
    const bool eraserEnd = eraser && session_->tool() != Tool::eraser;
    const double brushSize = eraserEnd ? defaultBrushSize(Tool::eraser) : session_->brushSize();
    const Tool tool = eraser ? Tool::eraser : session_->tool();

    journal_.beginStroke(id, at, tool, ownColor(), strokeRadius(brushSize));
    inkAdded();
    send(ClientMessage::strokeStart({id, userId.toStdString(), tool, color.wireColor(), brushSize,
                                     StrokePoint{at.x, at.y, pressure, now()}}));
    emit localStrokeStarted();
}

void CanvasCoordinator::appendStrokePoint(CanvasPoint point, double pressure, StrokeSource source) {
    if (!renderer_ || !session_ || !currentStrokeId_ || strokeSource_ != source) return;
    journal_.appendPoint(*currentStrokeId_, point);
    inkAdded();
    send(ClientMessage::strokePoint(*currentStrokeId_, StrokePoint{point.x, point.y, pressure, now()}));
}

void CanvasCoordinator::endStroke(StrokeSource source) {
    if (!renderer_ || !session_ || !currentStrokeId_ || strokeSource_ != source) return;
    journal_.endStroke(*currentStrokeId_);
    inkAdded();
    send(ClientMessage::strokeEnd(*currentStrokeId_));
    currentStrokeId_.reset();
    strokeSource_.reset();
}

void CanvasCoordinator::handleCanvasEvent(const CanvasEvent& event) {
    if (!renderer_) return;
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, CanvasEvent::RoomState>) {
                restartInk();
                journal_.addStrokes(e.strokes);
                // Not in this turn of the event loop, which has decoded the whole room.
                if (journal_.isBehind()) pumpTimer_.start(std::chrono::milliseconds(0));
            } else if constexpr (std::is_same_v<E, CanvasEvent::PeerStrokeStart>) {
                journal_.beginStroke(e.header.id, {e.firstPoint.x, e.firstPoint.y}, e.header.tool,
                                     toColor4f(e.header.color), strokeRadius(e.header.brushSize));
            } else if constexpr (std::is_same_v<E, CanvasEvent::PeerStrokePoint>) {
                journal_.appendPoint(e.strokeId, {e.point.x, e.point.y});
            } else if constexpr (std::is_same_v<E, CanvasEvent::PeerStrokeEnd>) {
                journal_.endStroke(e.strokeId);
            } else if constexpr (std::is_same_v<E, CanvasEvent::PageChanged>) {
                setLineArt(imageOf(e.page ? std::optional(toCurrentPage(*e.page)) : std::nullopt));
            } else if constexpr (std::is_same_v<E, CanvasEvent::CanvasCleared>) {
                restartInk();
                if (const auto image = imageOf(session_ ? session_->currentPage() : std::nullopt))
                    setLineArt(image);
            } else if constexpr (std::is_same_v<E, CanvasEvent::StrokeUndo>) {
                if (const auto from = journal_.setUndone(e.strokeId, true)) repaintInk(*from);
            } else if constexpr (std::is_same_v<E, CanvasEvent::StrokeRedo>) {
                const auto from = e.stroke ? journal_.insertStroke(*e.stroke, e.after)
                                           : journal_.setUndone(e.strokeId, false);
                if (from) repaintInk(*from);
            }
        },
        event.value);
    inkAdded();
}

void CanvasCoordinator::syncPeerCursors(const PeerCursorMap& cursors) {
    if (!renderer_) return;
    std::map<std::string, CursorViz> peers;
    for (auto it = cursors.cbegin(); it != cursors.cend(); ++it) {
        const RGBA32 c = parseHexColor(it->colorHex.toStdString());
        peers.emplace(
            it.key().toStdString(),
            CursorViz{{static_cast<float>(it->x), static_cast<float>(it->y)}, {c.r, c.g, c.b, c.a}, false});
    }
    renderer_->setPeerCursors(std::move(peers));
}

void CanvasCoordinator::syncPeerLabels() {
    if (!renderer_ || !session_) return;
    const qreal ratio = view_ ? view_->devicePixelRatioF() : 1.0;
    std::map<std::string, QImage> labels;
    const PeerNameMap& names = session_->peerNameById();
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        const QColor color(
            session_->peerColorById().value(it.key(), QString::fromLatin1(SessionModel::kUnknownPeerColor)));
        labels.emplace(it.key().toStdString(), paintPeerLabel(it.value(), color, ratio));
    }
    renderer_->setPeerLabels(std::move(labels));
}

void CanvasCoordinator::applyCanvasMode(bool on) {
    if (view_) view_->setIsInCanvasMode(on);
    if (on) {
        if (view_ && session_) {
            renderer_->setSelfCursor(CursorViz{toVec2f(view_->gestureMachine().cursor()), ownColor(), false});
        }
    } else {
        renderer_->setSelfCursor(std::nullopt);
    }
}

void CanvasCoordinator::restartInk() {
    renderer_->resetCanvas();
    journal_.restart();
    forgetSlices();
    pumpTimer_.stop();
}

void CanvasCoordinator::restoreInk() {
    if (!renderer_) return;
    journal_.forgetCheckpoints();
    repaintInk(0);
    reportProgress();
}

// The picture without (or with again) a stroke somewhere in its past: painted again from the
// nearest checkpoint before it, in the order everybody shares.
void CanvasCoordinator::repaintInk(std::size_t from) {
    journal_.rewindTo(*renderer_, from);
    forgetSlices();
    // The picture from a checkpoint lacks what came after it: what shows stays until the
    // repaint is done (or shows its progress once it takes long).
    if (journal_.appliedCount() > 0) sinceFrame_.start();
    pumpTimer_.start(std::chrono::milliseconds(0));
}

bool CanvasCoordinator::repaintLostInk() {
    if (!renderer_->takeInkLost()) return false;
    journal_.forgetCheckpoints();
    repaintInk(0);
    return true;
}

// Slices in flight and frames asked for belong to ink that is gone: cleared after it is
// painted, or lost with the old context.
void CanvasCoordinator::forgetSlices() {
    waitingForFrame_ = false;
    framePending_ = false;
    slicesInFlight_ = 0;
    sinceFrame_.invalidate();  // the progress shows from the start
}

void CanvasCoordinator::pumpInk() {
    if (!renderer_ || repaintLostInk()) return;
    if (framePending_) {
        // Only the wait for the frame runs out while one is pending: a hidden view presents
        // nothing, so go on without it.
        framePending_ = false;
        sinceFrame_.start();
    }
    if (slicesInFlight_ > 0 && view_) slicesInFlight_ = view_->inkInFlight();
    const bool replaying = reportedProgress_.has_value();
    const bool frameDue = replaying && journal_.isBehind() && view_ && view_->isPresenting() &&
                          !waitingForFrame_ &&
                          (!sinceFrame_.isValid() || sinceFrame_.elapsed() >= kReplayFrameInterval.count());
    // The GPU paints one slice while the next is prepared, no more; and a progress frame or a
    // checkpoint waits until it has caught up, so neither waits for the GPU.
    if (slicesInFlight_ >= kSlicesInFlight ||
        ((frameDue || journal_.checkpointDue()) && slicesInFlight_ > 0)) {
        pumpTimer_.start(kPollInterval);
        return;
    }
    if (frameDue) {
        // In a turn of the event loop of its own, never after a slice.
        framePending_ = true;
        view_->requestReplayFrame();
        pumpTimer_.start(kFrameWait);
        return;
    }
    if (journal_.isBehind()) {
        QElapsedTimer sliceClock;
        sliceClock.start();
        const auto stop =
            journal_.applyTo(*renderer_, stampBudget_, std::chrono::steady_clock::now() + kSliceTime);
        // A backlog paints its slices itself, one per turn of the event loop, so no frame has to.
        const bool paintNow = stop != InkJournal::Stop::caughtUp || replaying;
        const bool painted =
            paintNow && view_ && !renderer_->stamper().pendingStamps().empty() && view_->paintInkNow();
        if (painted) {
            ++slicesInFlight_;
            if (stop == InkJournal::Stop::stampBudget)
                stampBudget_ =
                    nextStampBudget(stampBudget_, static_cast<double>(sliceClock.nsecsElapsed()) / 1e6);
        }
        // No GL to paint with: the next frame paints them and asks for more.
        waitingForFrame_ = stop == InkJournal::Stop::stampBudget && !painted;
    }
    if (!waitingForFrame_ && (journal_.isBehind() || slicesInFlight_ > 0)) {
        const bool roomOnTheGpu = journal_.isBehind() && slicesInFlight_ < kSlicesInFlight;
        pumpTimer_.start(roomOnTheGpu ? std::chrono::milliseconds(0) : kPollInterval);
    }
    reportProgress();
}

void CanvasCoordinator::inkAdded() {
    // Live ink reaches the renderer at once; behind a backlog it waits for the backlog's slices.
    if (reportedProgress_ || pumpTimer_.isActive()) {
        reportProgress();
        return;
    }
    pumpInk();
}

void CanvasCoordinator::reportProgress() {
    const std::optional<double> progress = replayProgress();
    if (progress != reportedProgress_) {
        reportedProgress_ = progress;
        if (view_) view_->setReplayProgress(progress);
        emit replayProgressChanged(progress);
    }
}

void CanvasCoordinator::frameDone() {
    if (renderer_ && repaintLostInk()) return;
    if (framePending_) sinceFrame_.start();
    const bool resume = framePending_ || waitingForFrame_;
    framePending_ = false;
    waitingForFrame_ = false;
    // Not in this turn of the event loop: it has just presented a frame.
    if (resume && journal_.isBehind()) pumpTimer_.start(kAfterFrame);
}

std::optional<double> CanvasCoordinator::replayProgress() const {
    if (!journal_.isBehind() && slicesInFlight_ == 0) return std::nullopt;
    return static_cast<double>(journal_.appliedCount()) / static_cast<double>(journal_.size());
}

std::size_t CanvasCoordinator::nextStampBudget(std::size_t budget, double sliceMs) {
    if (!(sliceMs > 0)) return budget;
    // Towards the target time: quickly down, slowly up (a slice prepared while the GPU is idle
    // is quicker than one prepared beside a slice being painted).
    const double factor = std::clamp(kTargetSliceMs / sliceMs, 0.25, 1.25);
    const double next = static_cast<double>(budget) * factor;
    return static_cast<std::size_t>(
        std::clamp(next, static_cast<double>(kMinStampBudget), static_cast<double>(kMaxStampBudget)));
}

}  // namespace vellumora
