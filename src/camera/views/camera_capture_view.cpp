#include "camera/views/camera_capture_view.h"

#include "camera/qt_camera_frame_source.h"
#include "camera/views/camera_denied_overlay.h"
#include "camera/views/camera_live_pane.h"
#include "camera/views/capture_review_pane.h"
#include "camera/views/hold_ring.h"
#include "camera/views/processing_veil.h"
#include "camera/views/quad_overlay.h"
#include "scan/sketch_scanner.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QThreadPool>
#include <QVBoxLayout>

namespace vellumora {

namespace {

QPushButton* footerButton(const QString& text, const QString& symbol, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    if (!symbol.isEmpty()) {
        button->setIcon(ui::symbolIcon(symbol));
    }
    button->setAccessibleName(text);
    // Return belongs to Capture now, never to whichever button has focus by default.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CameraCaptureView::CameraCaptureView(std::function<void(QByteArray png)> onCaptured, QWidget* parent)
    : CameraCaptureView(std::move(onCaptured), Dependencies{}, parent) {}

CameraCaptureView::CameraCaptureView(std::function<void(QByteArray png)> onCaptured,
                                     Dependencies dependencies, QWidget* parent)
    : QDialog(parent),
      onCaptured_(std::move(onCaptured)),
      clock_(dependencies.clock ? std::move(dependencies.clock) : [] { return CaptureFlow::Clock::now(); }),
      extractor_(dependencies.extractor ? std::move(dependencies.extractor)
                                        : &LineArtExtractor::extractHighQuality),
      controller_(std::make_unique<CameraController>(
          dependencies.frameSource ? std::move(dependencies.frameSource)
                                   : std::make_unique<QtCameraFrameSource>(),
          dependencies.detector ? std::move(dependencies.detector) : &CameraController::detectPageInFrame)) {
    setWindowTitle(QStringLiteral("Capture sketch from camera"));
    setModal(true);

    panes_ = new QStackedWidget(this);
    live_ = new CameraLivePane(controller_.get(), panes_);
    review_ = new CaptureReviewPane(panes_);
    panes_->addWidget(live_);
    panes_->addWidget(review_);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    ui::setTextStyle(status_, ui::TextStyle::caption);
    QPalette statusPalette = status_->palette();
    statusPalette.setColor(QPalette::WindowText, ui::secondaryTextColor());
    status_->setPalette(statusPalette);
    status_->setAccessibleName(QStringLiteral("Scan status"));

    cancel_ = footerButton(QStringLiteral("Cancel"), {}, this);
    captureNow_ = footerButton(QStringLiteral("Capture now"), QStringLiteral("camera.fill"), this);
    retake_ = footerButton(QStringLiteral("Retake"), {}, this);
    usePage_ = footerButton(QStringLiteral("Use this page"), QStringLiteral("checkmark"), this);
    QPalette prominent = usePage_->palette();
    prominent.setColor(QPalette::Button, ui::accentColor());
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    usePage_->setPalette(prominent);
    usePage_->setIcon(
        ui::symbolIcon(QStringLiteral("checkmark"), prominent.color(QPalette::HighlightedText)));
    usePage_->setToolTip(QStringLiteral("Ctrl+Return"));
    captureNow_->setToolTip(QStringLiteral("Return"));

    auto* footer = new QHBoxLayout;
    footer->setSpacing(12);
    footer->addWidget(status_, 1);
    for (QPushButton* b : {cancel_, captureNow_, retake_, usePage_}) {
        footer->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panes_, 1);
    layout->addWidget(divider);
    auto* footerBox = new QWidget(this);
    footerBox->setLayout(footer);
    layout->addWidget(footerBox);

    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(captureNow_, &QPushButton::clicked, this, &CameraCaptureView::capture);
    connect(retake_, &QPushButton::clicked, this, &CameraCaptureView::retake);
    connect(usePage_, &QPushButton::clicked, this, &CameraCaptureView::usePage);

    CameraController* controller = controller_.get();
    controller->onQuadDetected = [this](const Quad& quad) {
        flow_.quadDetected(quad);
        refresh();
    };
    controller->onQuadLost = [this] {
        flow_.quadLost();
        refresh();
    };
    connect(controller, &CameraController::stabilityScoreChanged, this, &CameraCaptureView::onStabilityScore);
    connect(controller, &CameraController::isRunningChanged, this, &CameraCaptureView::refresh);
    connect(controller, &CameraController::lastImageSizeChanged, this,
            [this](QSize size) { live_->quadOverlay()->setImageSize(size); });
    refresh();
}

CameraCaptureView::~CameraCaptureView() {
    // The controller's callbacks refer to this sheet; it goes, and with it the camera, first.
    controller_.reset();
}

void CameraCaptureView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!cameraStarted_) {
        startCamera();
    }
}

void CameraCaptureView::done(int result) {
    ++generation_;  // an extraction still running is of no use to anybody now
    cameraStarted_ = false;
    controller_->stop();
    QDialog::done(result);
}

void CameraCaptureView::startCamera() {
    cameraStarted_ = true;
    controller_->start([self = QPointer(this)](bool running) {
        // A camera that cannot be started, first time or after Retake, leaves only Cancel.
        if (self && !running && self->cameraStarted_) {
            self->flow_.cameraUnavailable();
            self->refresh();
        }
    });
}

void CameraCaptureView::keyPressEvent(QKeyEvent* event) {
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && event->modifiers() == Qt::ControlModifier) {
        if (flow_.reviewing()) {
            usePage();
        }
        return;
    }
    if (isReturn && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!flow_.reviewing() && captureNow_->isEnabled()) {
            capture();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CameraCaptureView::onStabilityScore(double score) {
    if (flow_.stabilityChanged(score, now())) {
        capture();
    }
    refresh();
}

void CameraCaptureView::capture() {
    if (!flow_.beginCapture()) {
        return;
    }
    refresh();
    const int generation = ++generation_;
    controller_->captureFrame([this, generation](std::optional<QImage> frame) {
        if (generation != generation_) {
            return;
        }
        if (!frame) {
            flow_.captureFailed(CaptureFlow::frameUnavailableText(), now());
            refresh();
            return;
        }
        // Decoding for review happens beside the extraction, so the sheet only swaps images.
        QThreadPool::globalInstance()->start(
            [self = QPointer(this), extractor = extractor_, still = std::move(*frame), generation]() mutable {
                std::optional<QByteArray> png = extractor(still);
                QImage decoded;
                if (png) {
                    decoded.loadFromData(*png, "PNG");
                }
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [self = std::move(self), png = std::move(png), decoded = std::move(decoded), generation] {
                        if (self) {
                            self->finishCapture(generation, png, decoded);
                        }
                    },
                    Qt::QueuedConnection);
            });
    });
}

void CameraCaptureView::finishCapture(int generation, const std::optional<QByteArray>& png,
                                      const QImage& decoded) {
    if (generation != generation_) {
        return;  // the sheet closed or moved on while the page was being extracted
    }
    if (!png || decoded.isNull()) {
        flow_.captureFailed(CaptureFlow::processingFailedText(), now());
    } else {
        flow_.captureSucceeded(*png, decoded);
        controller_->stop();
    }
    refresh();
}

void CameraCaptureView::retake() {
    ++generation_;
    flow_.retake();
    refresh();
    QMetaObject::invokeMethod(
        this, [this] { startCamera(); }, Qt::QueuedConnection);
}

void CameraCaptureView::usePage() {
    const auto png = flow_.reviewPNG();
    if (!png) {
        return;
    }
    if (onCaptured_) {
        onCaptured_(*png);
    }
    accept();
}

QString CameraCaptureView::statusText() const {
    return flow_.statusText(controller_->isRunning());
}

void CameraCaptureView::refresh() {
    const bool reviewing = flow_.reviewing();
    panes_->setCurrentWidget(reviewing ? static_cast<QWidget*>(review_) : static_cast<QWidget*>(live_));
    review_->setImage(flow_.reviewImage());

    live_->quadOverlay()->setQuad(flow_.latestQuad());
    live_->quadOverlay()->setHighlighted(flow_.holdProgress() > 0);
    live_->holdRing()->setProgress(flow_.holdProgress());
    live_->processingVeil()->setVisible(flow_.processing());
    live_->deniedOverlay()->setVisible(flow_.permissionDenied());

    cancel_->setVisible(!reviewing);
    captureNow_->setVisible(!reviewing);
    captureNow_->setEnabled(controller_->isRunning() && !flow_.processing() && !flow_.permissionDenied());
    retake_->setVisible(reviewing);
    usePage_->setVisible(reviewing);
    status_->setText(statusText());
}

}  // namespace vellumora
