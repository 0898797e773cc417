#include "canvasview/canvas_coordinator.h"

#include "canvas/renderer.h"
#include "canvasview/canvas_input_view.h"
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

std::optional<QByteArray> imageOf(const std::optional<CurrentPage>& page) {
    if (!page || !page->imageData) return std::nullopt;
    return page->imageData;
}

}  // namespace

CanvasCoordinator::CanvasCoordinator(QObject* parent) : QObject(parent), m_clock(systemClock) {
    m_pumpTimer.setSingleShot(true);
    m_pumpTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pumpTimer, &QTimer::timeout, this, &CanvasCoordinator::pumpInk);
}

CanvasCoordinator::~CanvasCoordinator() {
    if (m_view && m_view->gestureMachine().delegate() == this) m_view->gestureMachine().setDelegate(nullptr);
}

void CanvasCoordinator::setClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock(systemClock);
}

double CanvasCoordinator::now() const {
    return m_clock();
}

void CanvasCoordinator::bind(CanvasInputView* view, Renderer& renderer, SessionModel& session) {
    m_view = view;
    m_renderer = &renderer;
    m_session = &session;
    if (view) {
        view->gestureMachine().setDelegate(this);
        installRequests();
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
    const QPointer<SessionModel> session = m_session;
    m_view->onToggleCanvasMode = [session] {
        if (session) session->setIsInCanvasMode(!session->isInCanvasMode());
    };
    m_view->onLeaveCanvasMode = [session] {
        if (session) session->setIsInCanvasMode(false);
    };
    m_view->onPinchMagnification = [session](double magnification, QPointF anchor) {
        if (session) session->applyPinchFactor(1.0 + magnification, anchor);
    };
    m_view->onResetZoom = [session] {
        if (!session) return;
        session->setZoom(1.0);
        session->setPan({0, 0});
    };
    m_view->onScrollPan = [session](double dx, double dy) {
        if (!session) return;
        const double z = std::max(session->zoom(), 0.0001);
        session->applyPanDelta(-dx / z, -dy / z);
    };
}

void CanvasCoordinator::subscribe() {
    SessionModel& session = *m_session;
    // Each delivers the current value first, then every later one.
    QObject::connect(&session, &SessionModel::zoomChanged, this, &CanvasCoordinator::applyZoom);
    applyZoom(session.zoom());
    QObject::connect(&session, &SessionModel::panChanged, this, [this](QSizeF pan) {
        m_renderer->setPan({static_cast<float>(pan.width()), static_cast<float>(pan.height())});
    });
    m_renderer->setPan(
        {static_cast<float>(session.pan().width()), static_cast<float>(session.pan().height())});
    QObject::connect(&session, &SessionModel::currentPageChanged, this,
                     [this](const OptionalCurrentPage& page) { setLineArt(imageOf(page)); });
    setLineArt(imageOf(session.currentPage()));
    QObject::connect(&session, &SessionModel::canvasEvents, this, &CanvasCoordinator::handleCanvasEvent);
    QObject::connect(&session, &SessionModel::peerCursorsChanged, this, &CanvasCoordinator::syncPeerCursors);
    syncPeerCursors(session.peerCursors());
    QObject::connect(&session, &SessionModel::isInCanvasModeChanged, this,
                     &CanvasCoordinator::applyCanvasMode);
    applyCanvasMode(session.isInCanvasMode());
}

void CanvasCoordinator::applyZoom(double zoom) {
    m_renderer->setZoom(static_cast<float>(zoom));
    if (m_view) m_view->gestureMachine().sensitivity = 1.0 / std::max(zoom, 0.0001);
}

void CanvasCoordinator::setLineArt(const std::optional<QByteArray>& pngData) {
    // The page arrives twice (as state, then as its event); decoding it once is enough.
    if (m_lineArtSet && m_lineArt == pngData) return;
    m_lineArtSet = true;
    m_lineArt = pngData;
    const std::uint64_t request = ++m_lineArtRequest;
    if (!pngData) return m_renderer->setLineArt(QImage());
    // Decoded off the GUI thread: a large page takes hundreds of milliseconds. A later page wins.
    QtConcurrent::run([bytes = *pngData] { return decodeLineArt(bytes); })
        .then(this, [this, request](const QImage& image) {
            if (request == m_lineArtRequest) m_renderer->setLineArt(image);
        });
}

Color4f CanvasCoordinator::ownColor() const {
    const ArtColor& c = m_session->color();
    return {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b), 1.0f};
}

void CanvasCoordinator::send(const ClientMessage& message) {
    m_session->network().send(message);
    emit messageSent(message);
}

void CanvasCoordinator::gestureDidStartStroke(CanvasPoint at) {
    if (!m_renderer || !m_session) return;
    // Nobody signed in: nothing is drawn or sent, and the rest of the gesture finds no stroke.
    const QString userId = m_session->currentUserId();
    if (userId.isEmpty()) return;

    const std::string id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    m_currentStrokeId = id;
    const ArtColor& color = m_session->color();
    const double brushSize = m_session->brushSize();
    const Tool tool = m_session->tool();

    m_journal.beginStroke(id, at, tool, ownColor(), strokeRadius(brushSize));
    inkAdded();
    send(ClientMessage::strokeStart(
        {id, userId.toStdString(), tool, color.wireColor(), brushSize, StrokePoint{at.x, at.y, 1.0, now()}}));
}

void CanvasCoordinator::gestureDidAppendPoint(CanvasPoint point) {
    if (!m_renderer || !m_session || !m_currentStrokeId) return;
    m_journal.appendPoint(*m_currentStrokeId, point);
    inkAdded();
    send(ClientMessage::strokePoint(*m_currentStrokeId, StrokePoint{point.x, point.y, 1.0, now()}));
}

void CanvasCoordinator::gestureDidEndStroke() {
    if (!m_renderer || !m_session || !m_currentStrokeId) return;
    m_journal.endStroke(*m_currentStrokeId);
    inkAdded();
    send(ClientMessage::strokeEnd(*m_currentStrokeId));
    m_currentStrokeId.reset();
}

void CanvasCoordinator::gestureDidUpdateCursor(CanvasPoint point, bool isDrawing) {
    if (!m_renderer || !m_session || !m_session->isInCanvasMode()) return;
    m_renderer->setSelfCursor(CursorViz{toVec2f(point), ownColor(), isDrawing});
    const double t = now();
    if (t - m_lastCursorBroadcast > kCursorInterval) {
        m_lastCursorBroadcast = t;
        send(ClientMessage::cursor(point.x, point.y));
    }
}

void CanvasCoordinator::handleCanvasEvent(const CanvasEvent& event) {
    if (!m_renderer) return;
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, CanvasEvent::RoomState>) {
                restartInk();
                m_journal.addStrokes(e.strokes);
                // Not in this turn of the event loop, which has decoded the whole room.
                if (m_journal.isBehind()) m_pumpTimer.start(std::chrono::milliseconds(0));
            } else if constexpr (std::is_same_v<E, CanvasEvent::PeerStrokeStart>) {
                m_journal.beginStroke(e.header.id, {e.firstPoint.x, e.firstPoint.y}, e.header.tool,
                                      toColor4f(e.header.color), strokeRadius(e.header.brushSize));
            } else if constexpr (std::is_same_v<E, CanvasEvent::PeerStrokePoint>) {
                m_journal.appendPoint(e.strokeId, {e.point.x, e.point.y});
            } else if constexpr (std::is_same_v<E, CanvasEvent::PeerStrokeEnd>) {
                m_journal.endStroke(e.strokeId);
            } else if constexpr (std::is_same_v<E, CanvasEvent::PageChanged>) {
                std::optional<QByteArray> bytes;
                if (e.page && !e.page->imageBase64.empty()) {
                    bytes = decodeStrictBase64(QByteArrayView(
                        e.page->imageBase64.data(), static_cast<qsizetype>(e.page->imageBase64.size())));
                }
                setLineArt(bytes);
            } else if constexpr (std::is_same_v<E, CanvasEvent::CanvasCleared>) {
                restartInk();
                if (const auto image = imageOf(m_session ? m_session->currentPage() : std::nullopt))
                    setLineArt(image);
            }
        },
        event.value);
    inkAdded();
}

void CanvasCoordinator::syncPeerCursors(const PeerCursorMap& cursors) {
    if (!m_renderer) return;
    std::map<std::string, CursorViz> peers;
    for (auto it = cursors.cbegin(); it != cursors.cend(); ++it) {
        const RGBA32 c = parseHexColor(it->colorHex.toStdString());
        peers.emplace(
            it.key().toStdString(),
            CursorViz{{static_cast<float>(it->x), static_cast<float>(it->y)}, {c.r, c.g, c.b, c.a}, false});
    }
    m_renderer->setPeerCursors(std::move(peers));
}

void CanvasCoordinator::applyCanvasMode(bool on) {
    if (m_view) m_view->setIsInCanvasMode(on);
    if (on) {
        if (m_view && m_session) {
            m_renderer->setSelfCursor(
                CursorViz{toVec2f(m_view->gestureMachine().cursor()), ownColor(), false});
        }
    } else {
        m_renderer->setSelfCursor(std::nullopt);
    }
}

void CanvasCoordinator::restartInk() {
    m_renderer->resetCanvas();
    m_journal.restart();
    forgetSlices();
    m_pumpTimer.stop();
}

void CanvasCoordinator::restoreInk() {
    if (!m_renderer) return;
    m_renderer->resetCanvas();
    m_journal.rewind();
    forgetSlices();
    m_pumpTimer.start(std::chrono::milliseconds(0));
    reportProgress();
}

// Slices in flight and frames asked for belong to ink that is gone: cleared after it is
// painted, or lost with the old context.
void CanvasCoordinator::forgetSlices() {
    m_waitingForFrame = false;
    m_framePending = false;
    m_slicesInFlight = 0;
    m_sinceFrame.invalidate();  // the progress shows from the start
}

void CanvasCoordinator::pumpInk() {
    if (!m_renderer) return;
    if (m_framePending) {
        // Only the wait for the frame runs out while one is pending: a hidden view presents
        // nothing, so go on without it.
        m_framePending = false;
        m_sinceFrame.start();
    }
    if (m_slicesInFlight > 0 && m_view) m_slicesInFlight = m_view->inkInFlight();
    const bool replaying = m_reportedProgress.has_value();
    const bool frameDue = replaying && m_journal.isBehind() && m_view && m_view->isVisible() &&
                          !m_waitingForFrame &&
                          (!m_sinceFrame.isValid() || m_sinceFrame.elapsed() >= kReplayFrameInterval.count());
    // The GPU paints one slice while the next is prepared, no more; and a progress frame waits
    // until it has caught up, so the frame itself never waits for the GPU.
    if (m_slicesInFlight >= kSlicesInFlight || (frameDue && m_slicesInFlight > 0)) {
        m_pumpTimer.start(kPollInterval);
        return;
    }
    if (frameDue) {
        // In a turn of the event loop of its own, never after a slice.
        m_framePending = true;
        m_view->requestReplayFrame();
        m_pumpTimer.start(kFrameWait);
        return;
    }
    if (m_journal.isBehind()) {
        QElapsedTimer sliceClock;
        sliceClock.start();
        const auto stop =
            m_journal.applyTo(*m_renderer, m_stampBudget, std::chrono::steady_clock::now() + kSliceTime);
        // A backlog paints its slices itself, one per turn of the event loop, so no frame has to.
        const bool paintNow = stop != InkJournal::Stop::caughtUp || replaying;
        const bool painted =
            paintNow && m_view && !m_renderer->stamper().pendingStamps().empty() && m_view->paintInkNow();
        if (painted) {
            ++m_slicesInFlight;
            if (stop == InkJournal::Stop::stampBudget)
                m_stampBudget =
                    nextStampBudget(m_stampBudget, static_cast<double>(sliceClock.nsecsElapsed()) / 1e6);
        }
        // No GL to paint with: the next frame paints them and asks for more.
        m_waitingForFrame = stop == InkJournal::Stop::stampBudget && !painted;
    }
    if (!m_waitingForFrame && (m_journal.isBehind() || m_slicesInFlight > 0)) {
        const bool roomOnTheGpu = m_journal.isBehind() && m_slicesInFlight < kSlicesInFlight;
        m_pumpTimer.start(roomOnTheGpu ? std::chrono::milliseconds(0) : kPollInterval);
    }
    reportProgress();
}

void CanvasCoordinator::inkAdded() {
    // Live ink reaches the renderer at once; behind a backlog it waits for the backlog's slices.
    if (m_reportedProgress || m_pumpTimer.isActive()) {
        reportProgress();
        return;
    }
    pumpInk();
}

void CanvasCoordinator::reportProgress() {
    const std::optional<double> progress = replayProgress();
    if (progress != m_reportedProgress) {
        m_reportedProgress = progress;
        if (m_view) m_view->setReplayProgress(progress);
        emit replayProgressChanged(progress);
    }
}

void CanvasCoordinator::frameDone() {
    if (m_framePending) m_sinceFrame.start();
    const bool resume = m_framePending || m_waitingForFrame;
    m_framePending = false;
    m_waitingForFrame = false;
    // Not in this turn of the event loop: it has just presented a frame.
    if (resume && m_journal.isBehind()) m_pumpTimer.start(kAfterFrame);
}

std::optional<double> CanvasCoordinator::replayProgress() const {
    if (!m_journal.isBehind() && m_slicesInFlight == 0) return std::nullopt;
    return static_cast<double>(m_journal.appliedCount()) / static_cast<double>(m_journal.size());
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
