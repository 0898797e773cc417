#include "canvas/renderer.h"

#include "canvas/gl_support.h"

#include <QBuffer>
#include <QImageReader>
#include <QOpenGLContext>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

namespace vellumora {

namespace {

constexpr float kFrameTime = 0.016666668f;
// From a peer's cursor centre to its label, in drawable pixels like the ring: past the ring
// (radius 10, width 2) and its halo.
constexpr float kPeerLabelOffset = 16.0f;

}  // namespace

Renderer::Renderer(StrokeStamper::SeedSource seeds) : stamper_(std::move(seeds)) {}

Renderer::~Renderer() {
    releaseGL();
}

QString Renderer::initialize() {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context) return QStringLiteral("Could not create OpenGL context");
    if (context->isOpenGLES() || context->format().version() < qMakePair(3, 3) ||
        !initializeOpenGLFunctions())
        return QStringLiteral("OpenGL 3.3 is not available on this device");
    releaseGL();
    context_ = context;
    // Images of an earlier context went with it; the line art is kept on this side.
    if (!pendingLineArt_ && !lineArt_.isNull()) pendingLineArt_ = lineArt_;
    overlayPending_ = !overlay_.isNull();
    labelsPending_ = !peerLabels_.empty();

    GlStateGuard guard(*this);
    if (QString error = createGl(); !error.isEmpty()) {
        releaseGL();
        return error;
    }
    inkSteps_.clear();
    return {};
}

QString Renderer::createGl() {
    gl_ = std::make_unique<Gl>();
    gl_->emptyVertexArray = GlVertexArray::generate(*this);
    if (QString error = gl_->ink.create(*this); !error.isEmpty()) return error;
    if (QString error = gl_->composite.create(*this, gl_->emptyVertexArray.id()); !error.isEmpty())
        return error;
    if (QString error = gl_->cursors.create(*this); !error.isEmpty()) return error;
    return gl_->overlays.create(*this);
}

void Renderer::releaseGL() {
    // Each name is deleted when this context is current and forgotten otherwise: names of
    // another (or a destroyed) context went with it.
    gl_.reset();
    context_ = nullptr;
}

void Renderer::resize(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
}

void Renderer::beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius) {
    stamper_.beginStroke(id, at, tool, color, radius);
}

void Renderer::appendPoint(const std::string& id, CanvasPoint point) {
    stamper_.appendPoint(id, point);
}

void Renderer::endStroke(const std::string& id) {
    stamper_.endStroke(id);
}

void Renderer::resetCanvas() {
    stamper_.reset();
    inkSteps_.assign(1, {0, InkStep::Kind::clear, 0});
}

void Renderer::saveInk(std::size_t slot) {
    savedStrokes_[slot] = stamper_.activeStrokes();
    inkSteps_.push_back({stamper_.pendingStamps().size(), InkStep::Kind::save, slot});
}

void Renderer::restoreInk(std::size_t slot) {
    const auto lastSave = std::find_if(inkSteps_.rbegin(), inkSteps_.rend(),
                                       [](const InkStep& step) { return step.kind == InkStep::Kind::save; });
    inkSteps_.erase(lastSave.base(), inkSteps_.end());
    const std::size_t keep = inkSteps_.empty() ? 0 : inkSteps_.back().stamp;
    const auto saved = savedStrokes_.find(slot);
    stamper_.rewind(keep, saved == savedStrokes_.end() ? StrokeStamper::StrokeTable() : saved->second);
    inkSteps_.push_back({keep, InkStep::Kind::restore, slot});
}

void Renderer::setLineArt(const QImage& image) {
    lineArt_ = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888);
    pendingLineArt_ = lineArt_;
}

QImage decodeLineArt(const QByteArray& bytes, const QString& mimeType) {
    const QByteArray format = mimeType == u"image/png" ? "png" : mimeType == u"image/jpeg" ? "jpeg" : "";
    if (format.isEmpty()) {
        qWarning().noquote() << QStringLiteral("Failed to decode line art PNG: not PNG or JPEG but ") +
                                    mimeType;
        return {};
    }
    QByteArray data = bytes;
    QBuffer buffer(&data);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    const QImage image = reader.read();
    if (image.isNull()) {
        qWarning().noquote() << QStringLiteral("Failed to decode line art PNG: ") + reader.errorString();
        return {};
    }
    return image.convertToFormat(QImage::Format_RGBA8888);
}

void Renderer::setOverlay(const QImage& image) {
    overlay_ = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    overlayPending_ = true;
}

void Renderer::setPeerLabels(std::map<std::string, QImage> labels) {
    for (auto& [id, image] : labels) image = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    peerLabels_ = std::move(labels);
    labelsPending_ = true;
}

bool Renderer::hasLineArt() const {
    return !lineArt_.isNull();
}

void Renderer::render(GLuint targetFramebuffer) {
    if (!gl_) return;
    GlStateGuard guard(*this);
    if (width_ == 0 || height_ == 0) {
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        width_ = viewport[2];
        height_ = viewport[3];
    }
    time_ += kFrameTime;

    uploadPendingLineArt();
    paintQueuedInk();

    const Vec2f size{static_cast<float>(width_), static_cast<float>(height_)};
    glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    glViewport(0, 0, width_, height_);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindVertexArray(gl_->emptyVertexArray.id());
    gl_->composite.draw({size, time_, zoom_, pan_, gl_->ink.texture()});
    planCursors(selfCursor_, peerCursors_, {zoom_, pan_, size}, cursorDraws_);
    gl_->cursors.draw(cursorDraws_, size);
    drawPeerLabels(size);
    drawOverlay();
}

void Renderer::drawPeerLabels(Vec2f drawableSize) {
    if (labelsPending_) {
        labelsPending_ = false;
        gl_->labels.clear();
        for (const auto& [id, image] : peerLabels_) gl_->labels.emplace(id, gl_->overlays.upload(image));
    }
    for (const auto& [id, cursor] : peerCursors_) {
        const auto label = peerLabels_.find(id);
        const auto texture = gl_->labels.find(id);
        if (label == peerLabels_.end() || texture == gl_->labels.end()) continue;
        // Right of the ring, centred on it vertically.
        const Vec2f uv = ViewMapping{zoom_, pan_, drawableSize}.toView(cursor.pos);
        const Vec2f centre{uv.x * drawableSize.x, uv.y * drawableSize.y};
        const QSize size = label->second.size();
        const Vec2f origin{std::round(centre.x + kPeerLabelOffset),
                           std::round(centre.y - static_cast<float>(size.height()) / 2)};
        gl_->overlays.draw(texture->second.id(), size, origin, drawableSize);
    }
}

void Renderer::uploadPendingLineArt() {
    if (!pendingLineArt_) return;
    gl_->composite.setLineArt(*pendingLineArt_);
    pendingLineArt_.reset();
}

bool Renderer::startPicture() {
    if (!gl_) return false;
    GlStateGuard guard(*this);
    uploadPendingLineArt();
    paintQueuedInk();
    return gl_->picture.start(*this, gl_->composite, gl_->ink.texture(), gl_->emptyVertexArray.id());
}

std::optional<QImage> Renderer::finishedPicture() {
    if (!gl_) return QImage();
    GlStateGuard guard(*this);
    return gl_->picture.take();
}

QImage Renderer::picture() {
    if (!startPicture()) return {};
    GlStateGuard guard(*this);
    return gl_->picture.wait();
}

void Renderer::paintInk() {
    if (!gl_) return;
    GlStateGuard guard(*this);
    paintQueuedInk();
    gl_->ink.fence();
}

std::size_t Renderer::inkInFlight() {
    return gl_ ? gl_->ink.inFlight() : 0;
}

void Renderer::paintQueuedInk() {
    const std::span<const PendingStamp> stamps = stamper_.pendingStamps();
    std::size_t painted = 0;
    for (const InkStep& step : inkSteps_) {
        gl_->ink.paint(stamps.subspan(painted, step.stamp - painted));
        painted = step.stamp;
        switch (step.kind) {
            case InkStep::Kind::clear:
                gl_->ink.clear();
                break;
            case InkStep::Kind::save:
                gl_->ink.save(step.slot);
                break;
            case InkStep::Kind::restore:
                if (!gl_->ink.restore(step.slot)) {
                    gl_->ink.clear();
                    inkLost_ = true;
                }
                break;
        }
    }
    inkSteps_.clear();
    gl_->ink.paint(stamps.subspan(painted));
    stamper_.clearPending();
}

void Renderer::drawOverlay() {
    if (overlayPending_) {
        overlayPending_ = false;
        gl_->overlay = overlay_.isNull() ? GlTexture() : gl_->overlays.upload(overlay_);
    }
    if (!gl_->overlay) return;
    gl_->overlays.draw(gl_->overlay.id(), overlay_.size(), {0, 0},
                       {static_cast<float>(width_), static_cast<float>(height_)});
}

}  // namespace vellumora
