#include "canvasview/canvas_view.h"

#include "canvasview/canvas_coordinator.h"
#include "canvasview/canvas_input_view.h"
#include "canvasview/first_stroke_hint.h"
#include "canvasview/picture_export.h"
#include "canvasview/room_status_view.h"
#include "session/session_model.h"
#include "ui/appearance.h"

#include <QDate>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QOpenGLWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace vellumora {

namespace {

void showFailureAndExit(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vellumora"), message, QMessageBox::Ok);
    box.exec();
    // The canvas cannot run; leave at once rather than unwind a half-started window.
    std::fflush(nullptr);
    std::_Exit(1);
}

CanvasView::StartupFailureHandler& failureHandler() {
    static CanvasView::StartupFailureHandler handler;
    return handler;
}

}  // namespace

void CanvasView::setStartupFailureHandler(StartupFailureHandler handler) {
    failureHandler() = std::move(handler);
}

void CanvasView::prepareWindow(QWidget& window) {
    if (!CanvasInputView::isOpenGLAvailable()) return;  // a GL widget there would not even paint
    // Never shown, so it never makes a context; it only marks the window for OpenGL composition.
    auto* marker = new QOpenGLWidget(&window);
    marker->hide();
}

CanvasView::CanvasView(SessionModel& session, QWidget* parent) : QWidget(parent), session_(session) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    setFocusPolicy(Qt::StrongFocus);

    if (!CanvasInputView::isOpenGLAvailable()) {
        const QString message = QStringLiteral("OpenGL 3.3 is not available on this device");
        auto* label = new QLabel(message, this);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setAccessibleName(message);
        layout->addWidget(label, 0, 0);
        QMetaObject::invokeMethod(
            this, [this, message] { reportStartupFailure(message); }, Qt::QueuedConnection);
        return;
    }

    inputView_ = new CanvasInputView(this);
    layout->addWidget(inputView_, 0, 0);
    // Over the canvas's corner; shown only while there is something to say.
    auto* status = new RoomStatusView(session, this);
    status_ = status;
    auto* corner = new QVBoxLayout;
    const int margin = ui::pt(12);
    corner->setContentsMargins(margin, margin, margin, margin);
    corner->addStretch(1);
    corner->addWidget(status, 0, Qt::AlignLeft);
    layout->addLayout(corner, 0, 0);
    status->raise();
    setFocusProxy(inputView_);
    // Out of initializeGL first: the message box runs its own event loop.
    QObject::connect(inputView_, &CanvasInputView::startupFailed, this, &CanvasView::reportStartupFailure,
                     Qt::QueuedConnection);
    coordinator_ = std::make_unique<CanvasCoordinator>();
    coordinator_->bind(inputView_, inputView_->renderer(), session);
    hint_ = new FirstStrokeHint(this);
    status->installEventFilter(this);
    QObject::connect(coordinator_.get(), &CanvasCoordinator::localStrokeStarted, hint_,
                     &FirstStrokeHint::strokeDrawn);
    export_ = new PictureExport(*inputView_, *coordinator_, this);
    QObject::connect(export_, &PictureExport::failed, this, [this](const QString& message) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export picture"), message,
                                    QMessageBox::Ok, window());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}

void CanvasView::exportPicture() {
    if (!export_) return;
    const QString suggested = PictureExport::suggestedPath(PictureExport::picturesFolder(),
                                                           session_.roomDisplayName(), QDate::currentDate());
    auto* dialog = new QFileDialog(window(), QStringLiteral("Export picture"), suggested,
                                   QStringLiteral("PNG image (*.png)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("png"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, export_, &PictureExport::saveTo);
    dialog->open();
}

void CanvasView::copyPicture() {
    if (export_) export_->copy();
}

void CanvasView::reportStartupFailure(const QString& message) {
    if (const StartupFailureHandler& handler = failureHandler()) {
        handler(message);
    } else {
        showFailureAndExit(message);
    }
}

CanvasView::~CanvasView() {
    // The coordinator refers to the input view's renderer and gesture machine.
    coordinator_.reset();
}

void CanvasView::placeHint() {
    if (hint_) hint_->place(rect(), status_ && !status_->isHidden() ? status_->geometry() : QRect());
}

bool CanvasView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == status_) {
        const QEvent::Type type = event->type();
        if (type == QEvent::Show || type == QEvent::Hide || type == QEvent::Resize || type == QEvent::Move)
            placeHint();
    }
    return QWidget::eventFilter(watched, event);
}

void CanvasView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeHint();
}

void CanvasView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    placeHint();
    if (inputView_) inputView_->setFocus(Qt::OtherFocusReason);
}

}  // namespace vellumora
