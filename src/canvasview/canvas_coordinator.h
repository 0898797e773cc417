#pragma once
// The one object that knows both the canvas and the session: gestures become the local stroke
// (drawn at once) and stroke and cursor messages; the session's state and canvas events become
// drawing; the input view's requests (canvas mode, zoom, pan) go to the session.
//
// Ink reaches the renderer through an InkJournal, in slices bounded by time and by unpainted
// stamps, so a large room backlog never holds the event loop for long and everything arriving
// meanwhile lands after it, in order.

#include "canvas/gesture_state_machine.h"
#include "canvasview/ink_journal.h"
#include "model/protocol.h"
#include "session/session_model.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace vellumora {

class CanvasInputView;
class Renderer;

class CanvasCoordinator : public QObject, public GestureDelegate {
    Q_OBJECT

  public:
    // Wall-clock seconds since 1970: the stroke points' `t` and the cursor throttle.
    using Clock = std::function<double()>;

    // A cursor message goes out only when more than this has passed since the last one.
    static constexpr double kCursorInterval = 0.016;
    // Stamps one slice of a backlog paints: the first guess, and the range the measured times
    // move it in. The ceiling matters on a software rasteriser: a slice's draw calls wait there
    // while the slice before it is painted, which the measured time cannot foresee, and slices
    // of 30-40k stamps held the event loop for 25-40 ms. 16k keeps it to about 15 ms, and the
    // join takes as long.
    static constexpr std::size_t kInitialStampBudget = 4'000;
    static constexpr std::size_t kMinStampBudget = 2'000;
    static constexpr std::size_t kMaxStampBudget = 16'000;
    // Preparing one slice and handing it to the GPU should take about this long; the GPU then
    // paints it in about three times that while the event loop runs and the next is prepared.
    static constexpr double kTargetSliceMs = 8.0;
    static constexpr std::chrono::milliseconds kSliceTime{6};
    static constexpr std::size_t kSlicesInFlight = 2;
    static constexpr std::chrono::milliseconds kPollInterval{1};
    // While a backlog is painted, a frame shows its progress this often (frames cost as much as
    // a slice on a software rasteriser), and the slices go on this long after it, so the two
    // never share a turn of the event loop. A frame that does not come is waited for this long.
    static constexpr std::chrono::milliseconds kReplayFrameInterval{250};
    static constexpr std::chrono::milliseconds kAfterFrame{2};
    static constexpr std::chrono::milliseconds kFrameWait{250};

    explicit CanvasCoordinator(QObject* parent = nullptr);
    ~CanvasCoordinator() override;

    void setClock(Clock clock);

    // Wires everything; once. `view` may be null (no window: ink is then handed over by timer).
    // The renderer must outlive this coordinator.
    void bind(CanvasInputView* view, Renderer& renderer, SessionModel& session);

    void gestureDidStartStroke(CanvasPoint at) override;
    void gestureDidAppendPoint(CanvasPoint point) override;
    void gestureDidEndStroke() override;
    void gestureDidUpdateCursor(CanvasPoint point, bool isDrawing) override;

    // Devices that draw where they point (mouse, pen, touchscreen), at fractions of the view:
    // a stroke starts only on the paper; the position is shared with the room as the cursor.
    // `eraser`: the pen's eraser end, which erases whatever the tool.
    void directStrokeStart(QPointF viewUV, double pressure, bool eraser = false);
    void directStrokePoint(QPointF viewUV, double pressure);
    void directStrokeEnd();
    void directHover(QPointF viewUV);

    // The renderer's canvas was emptied with its GL context: paint everything again.
    void restoreInk();
    // After every presented frame: a replay that waited for it goes on.
    void frameDone();

    const std::optional<std::string>& currentStrokeId() const { return currentStrokeId_; }
    const InkJournal& journal() const { return journal_; }
    // Fraction of the ink handed to the renderer, while some is still waiting.
    std::optional<double> replayProgress() const;
    std::size_t stampBudget() const { return stampBudget_; }

    // The next budget after a slice that took `sliceMs` to prepare and hand over.
    static std::size_t nextStampBudget(std::size_t budget, double sliceMs);

  signals:
    // Every message handed to the room connection, in order (for observers; it is sent anyway).
    void messageSent(const vellumora::ClientMessage& message);
    // A stroke of this user's began (by any device).
    void localStrokeStarted();
    // The replay progress changed (none: caught up).
    void replayProgressChanged(std::optional<double> progress);

  private:
    // Where the open local stroke comes from: only its source extends or ends it.
    enum class StrokeSource { gesture, direct };

    void installRequests();
    void subscribe();
    void handleCanvasEvent(const CanvasEvent& event);
    void syncPeerCursors(const PeerCursorMap& cursors);
    // The peers' names beside their cursors.
    void syncPeerLabels();
    void applyCanvasMode(bool on);
    void applyZoom(double zoom);
    void setLineArt(const std::optional<std::pair<QByteArray, QString>>& image);
    void send(const ClientMessage& message);
    Color4f ownColor() const;
    double now() const;

    void startStroke(CanvasPoint at, double pressure, StrokeSource source, bool eraser = false);
    void appendStrokePoint(CanvasPoint point, double pressure, StrokeSource source);
    void endStroke(StrokeSource source);
    CanvasPoint canvasPointAt(QPointF viewUV) const;
    void shareDirectCursor(CanvasPoint point, bool isDrawing);
    // A cursor message, unless one went out within the last kCursorInterval.
    void broadcastCursor(CanvasPoint point);

    // Resets the renderer's canvas and the record: the room starts again from nothing.
    void restartInk();
    void forgetSlices();
    void repaintInk(std::size_t from);
    // A checkpoint that could not be made was restored: everything is painted again. True then.
    bool repaintLostInk();
    // Applies what the budget allows now and arranges for the rest.
    void pumpInk();
    void inkAdded();
    void reportProgress();

    QPointer<SessionModel> session_;
    QPointer<CanvasInputView> view_;
    Renderer* renderer_ = nullptr;
    std::optional<std::string> currentStrokeId_;
    std::optional<StrokeSource> strokeSource_;
    double lastCursorBroadcast_ = 0;
    Clock clock_;

    InkJournal journal_;
    std::size_t stampBudget_ = kInitialStampBudget;
    bool waitingForFrame_ = false;  // stamps left to a frame: no GL to paint them with
    bool framePending_ = false;     // a progress frame was asked for
    std::size_t slicesInFlight_ = 0;
    QElapsedTimer sinceFrame_;  // since the last progress frame; invalid: none yet
    std::optional<double> reportedProgress_;
    bool lineArtSet_ = false;
    std::optional<std::pair<QByteArray, QString>> lineArt_;
    std::uint64_t lineArtRequest_ = 0;  // only the latest page's decoded line art is shown
    QTimer pumpTimer_;
};

}  // namespace vellumora
