#include "camera/camera_capture_view.h"

#include "camera/camera_denied_overlay.h"
#include "camera/camera_live_pane.h"
#include "camera/capture_review_pane.h"
#include "camera/hold_ring.h"
#include "camera/processing_veil.h"
#include "camera/qt_camera_frame_source.h"
#include "camera/quad_overlay.h"
#include "camera/sketch_scanner.h"
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
      m_onCaptured(std::move(onCaptured)),
      m_clock(dependencies.clock ? std::move(dependencies.clock) : [] { return CaptureFlow::Clock::now(); }),
      m_extractor(dependencies.extractor ? std::move(dependencies.extractor)
                                         : &LineArtExtractor::extractHighQuality),
      m_controller(std::make_unique<CameraController>(
          dependencies.frameSource ? std::move(dependencies.frameSource)
                                   : std::make_unique<QtCameraFrameSource>(),
          dependencies.detector ? std::move(dependencies.detector) : &CameraController::detectPageInFrame)) {
    setWindowTitle(QStringLiteral("Capture sketch from camera"));
    setModal(true);

    m_panes = new QStackedWidget(this);
    m_live = new CameraLivePane(m_controller.get(), m_panes);
    m_review = new CaptureReviewPane(m_panes);
    m_panes->addWidget(m_live);
    m_panes->addWidget(m_review);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    ui::setTextStyle(m_status, ui::TextStyle::caption);
    QPalette statusPalette = m_status->palette();
    statusPalette.setColor(QPalette::WindowText, ui::secondaryTextColor());
    m_status->setPalette(statusPalette);
    m_status->setAccessibleName(QStringLiteral("Scan status"));

    m_cancel = footerButton(QStringLiteral("Cancel"), {}, this);
    m_captureNow = footerButton(QStringLiteral("Capture now"), QStringLiteral("camera.fill"), this);
    m_retake = footerButton(QStringLiteral("Retake"), {}, this);
    m_usePage = footerButton(QStringLiteral("Use this page"), QStringLiteral("checkmark"), this);
    QPalette prominent = m_usePage->palette();
    prominent.setColor(QPalette::Button, ui::accentColor());
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    m_usePage->setPalette(prominent);
    m_usePage->setIcon(
        ui::symbolIcon(QStringLiteral("checkmark"), prominent.color(QPalette::HighlightedText)));
    m_usePage->setToolTip(QStringLiteral("Ctrl+Return"));
    m_captureNow->setToolTip(QStringLiteral("Return"));

    auto* footer = new QHBoxLayout;
    footer->setSpacing(12);
    footer->addWidget(m_status, 1);
    for (QPushButton* b : {m_cancel, m_captureNow, m_retake, m_usePage}) {
        footer->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_panes, 1);
    layout->addWidget(divider);
    auto* footerBox = new QWidget(this);
    footerBox->setLayout(footer);
    layout->addWidget(footerBox);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_captureNow, &QPushButton::clicked, this, &CameraCaptureView::capture);
    connect(m_retake, &QPushButton::clicked, this, &CameraCaptureView::retake);
    connect(m_usePage, &QPushButton::clicked, this, &CameraCaptureView::usePage);

    CameraController* controller = m_controller.get();
    controller->onQuadDetected = [this](const Quad& quad) {
        m_flow.quadDetected(quad);
        refresh();
    };
    controller->onQuadLost = [this] {
        m_flow.quadLost();
        refresh();
    };
    connect(controller, &CameraController::stabilityScoreChanged, this, &CameraCaptureView::onStabilityScore);
    connect(controller, &CameraController::isRunningChanged, this, &CameraCaptureView::refresh);
    connect(controller, &CameraController::lastImageSizeChanged, this,
            [this](QSize size) { m_live->quadOverlay()->setImageSize(size); });
    refresh();
}

CameraCaptureView::~CameraCaptureView() {
    // The controller's callbacks refer to this sheet; it goes, and with it the camera, first.
    m_controller.reset();
}

void CameraCaptureView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_cameraStarted) {
        startCamera();
    }
}

void CameraCaptureView::done(int result) {
    ++m_generation;  // an extraction still running is of no use to anybody now
    m_cameraStarted = false;
    m_controller->stop();
    QDialog::done(result);
}

void CameraCaptureView::startCamera() {
    m_cameraStarted = true;
    m_controller->start([self = QPointer(this)](bool running) {
        // A camera that cannot be started, first time or after Retake, leaves only Cancel.
        if (self && !running && self->m_cameraStarted) {
            self->m_flow.cameraUnavailable();
            self->refresh();
        }
    });
}

void CameraCaptureView::keyPressEvent(QKeyEvent* event) {
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && event->modifiers() == Qt::ControlModifier) {
        if (m_flow.reviewing()) {
            usePage();
        }
        return;
    }
    if (isReturn && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!m_flow.reviewing() && m_captureNow->isEnabled()) {
            capture();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CameraCaptureView::onStabilityScore(double score) {
    if (m_flow.stabilityChanged(score, now())) {
        capture();
    }
    refresh();
}

void CameraCaptureView::capture() {
    if (!m_flow.beginCapture()) {
        return;
    }
    refresh();
    const int generation = ++m_generation;
    m_controller->captureFrame([this, generation](std::optional<QImage> frame) {
        if (generation != m_generation) {
            return;
        }
        if (!frame) {
            m_flow.captureFailed(CaptureFlow::frameUnavailableText(), now());
            refresh();
            return;
        }
        // Decoding for review happens beside the extraction, so the sheet only swaps images.
        QThreadPool::globalInstance()->start([self = QPointer(this), extractor = m_extractor,
                                              still = std::move(*frame), generation]() mutable {
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
    if (generation != m_generation) {
        return;  // the sheet closed or moved on while the page was being extracted
    }
    if (!png || decoded.isNull()) {
        m_flow.captureFailed(CaptureFlow::processingFailedText(), now());
    } else {
        m_flow.captureSucceeded(*png, decoded);
        m_controller->stop();
    }
    refresh();
}

void CameraCaptureView::retake() {
    ++m_generation;
    m_flow.retake();
    refresh();
    QMetaObject::invokeMethod(
        this, [this] { startCamera(); }, Qt::QueuedConnection);
}

void CameraCaptureView::usePage() {
    const auto png = m_flow.reviewPNG();
    if (!png) {
        return;
    }
    if (m_onCaptured) {
        m_onCaptured(*png);
    }
    accept();
}

QString CameraCaptureView::statusText() const {
    return m_flow.statusText(m_controller->isRunning());
}

void CameraCaptureView::refresh() {
    const bool reviewing = m_flow.reviewing();
    m_panes->setCurrentWidget(reviewing ? static_cast<QWidget*>(m_review) : static_cast<QWidget*>(m_live));
    m_review->setImage(m_flow.reviewImage());

    m_live->quadOverlay()->setQuad(m_flow.latestQuad());
    m_live->quadOverlay()->setHighlighted(m_flow.holdProgress() > 0);
    m_live->holdRing()->setProgress(m_flow.holdProgress());
    m_live->processingVeil()->setVisible(m_flow.processing());
    m_live->deniedOverlay()->setVisible(m_flow.permissionDenied());

    m_cancel->setVisible(!reviewing);
    m_captureNow->setVisible(!reviewing);
    m_captureNow->setEnabled(m_controller->isRunning() && !m_flow.processing() && !m_flow.permissionDenied());
    m_retake->setVisible(reviewing);
    m_usePage->setVisible(reviewing);
    m_status->setText(statusText());
}

}  // namespace vellumora
