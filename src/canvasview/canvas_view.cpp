#include "canvasview/canvas_view.h"

#include "canvasview/canvas_coordinator.h"
#include "canvasview/canvas_input_view.h"

#include <QMessageBox>
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

CanvasView::CanvasView(SessionModel& session, QWidget* parent)
    : QWidget(parent),
      m_inputView(new CanvasInputView(this)),
      m_coordinator(std::make_unique<CanvasCoordinator>()) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_inputView);
    setFocusProxy(m_inputView);
    setFocusPolicy(Qt::StrongFocus);

    // Out of initializeGL first: the message box runs its own event loop.
    QObject::connect(
        m_inputView, &CanvasInputView::startupFailed, this,
        [](const QString& message) {
            if (const StartupFailureHandler& handler = failureHandler()) {
                handler(message);
            } else {
                showFailureAndExit(message);
            }
        },
        Qt::QueuedConnection);

    m_coordinator->bind(m_inputView, m_inputView->renderer(), session);
}

CanvasView::~CanvasView() {
    // The coordinator refers to the input view's renderer and gesture machine.
    m_coordinator.reset();
}

void CanvasView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_inputView->setFocus(Qt::OtherFocusReason);
}

}  // namespace vellumora
