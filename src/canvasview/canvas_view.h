#pragma once
// The canvas as the main layout places it: the input view that shows and receives it, its
// renderer and the coordinator that joins them to the session. Created when a room opens and
// destroyed when it closes.

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace vellumora {

class CanvasCoordinator;
class CanvasInputView;
class FirstStrokeHint;
class PictureExport;
class SessionModel;

class CanvasView : public QWidget {
    Q_OBJECT

  public:
    // What happens when the renderer cannot start: by default a modal critical message with the
    // text, then the process exits with status 1. An empty function restores the default.
    using StartupFailureHandler = std::function<void(const QString& message)>;
    static void setStartupFailureHandler(StartupFailureHandler handler);
    // Call before the top-level window that will hold canvases is first shown. A window that
    // gains its first OpenGL widget while shown is recreated by the toolkit: it flickers and
    // loses keyboard focus. Prepared, it composites through OpenGL from the start.
    static void prepareWindow(QWidget& window);

    explicit CanvasView(SessionModel& session, QWidget* parent = nullptr);
    ~CanvasView() override;

    // Both are missing when this process has no OpenGL at all; the view then only shows why.
    CanvasInputView* inputView() { return inputView_; }
    CanvasCoordinator* coordinator() { return coordinator_.get(); }
    // How to draw, until this person has drawn once; none without OpenGL.
    FirstStrokeHint* firstStrokeHint() { return hint_; }
    // The picture's export and copy; none without OpenGL.
    PictureExport* pictureExport() { return export_; }

    // "Export picture…": a save dialog, then the picture is written; a failure is shown.
    void exportPicture();
    // "Copy picture": the picture goes to the clipboard; a failure is shown.
    void copyPicture();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void reportStartupFailure(const QString& message);
    // The hint over the foot of the canvas, clear of the room's status in the corner.
    void placeHint();

    CanvasInputView* inputView_ = nullptr;
    std::unique_ptr<CanvasCoordinator> coordinator_;
    FirstStrokeHint* hint_ = nullptr;
    QWidget* status_ = nullptr;
    PictureExport* export_ = nullptr;
    SessionModel& session_;
};

}  // namespace vellumora
