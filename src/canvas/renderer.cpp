#include "canvas/renderer.h"

#include "canvas/gl_support.h"
#include "canvas/shader_sources.h"

#include <QBuffer>
#include <QImageReader>
#include <QOpenGLContext>
#include <QtDebug>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace vellumora {

namespace {

constexpr GLsizei kCanvasPixels = 2048;
// The paper has no detail finer than ~1/9 of the canvas, so 1024 texels per side carry it
// within 1e-4 of the formula (16 bits per channel keep the quantisation below that too).
constexpr GLsizei kPaperPixels = 1024;
// Stamps uploaded per instance-buffer fill: bounds the buffer while a long backlog replays.
constexpr std::size_t kMaxInstancesPerUpload = 1u << 16;
constexpr float kFrameTime = 0.016666668f;

// The stamp parameter block, one per instance, as brush_vertex reads it.
struct BrushInstance {
    float center[2];
    float canvasSize[2];
    float color[4];
    float radius;
    float opacity;
    float seed;
    float pad;
};
static_assert(sizeof(BrushInstance) == 48);

struct BrushStage {
    std::string_view name;
    std::string_view source;
};

// Indexed by Tool, in declaration order.
constexpr std::array<BrushStage, 5> kBrushStages{{
    {"brush_sketchpen_fragment", shaders::brush_sketchpen_fragment},
    {"brush_pencil_fragment", shaders::brush_pencil_fragment},
    {"brush_watercolor_fragment", shaders::brush_watercolor_fragment},
    {"brush_crayon_fragment", shaders::brush_crayon_fragment},
    {"brush_pastel_fragment", shaders::brush_pastel_fragment},
}};

void useStampBlend(QOpenGLFunctions_3_3_Core& gl) {
    gl.glEnable(GL_BLEND);
    gl.glBlendEquation(GL_FUNC_ADD);
    gl.glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

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

    if (QString error = buildPrograms(); !error.isEmpty()) {
        releaseGL();
        return error;
    }
    GlStateGuard guard(*this);
    if (QString error = createImages(); !error.isEmpty()) {
        releaseGL();
        return error;
    }
    if (QString error = bakePaper(); !error.isEmpty()) {
        releaseGL();
        return error;
    }
    initialized_ = true;
    clearCanvasTexture();
    clearPending_ = false;
    return {};
}

QString Renderer::buildPrograms() {
    for (std::size_t tool = 0; tool < kBrushStages.size(); ++tool) {
        auto program = buildProgram(*this, "brush_vertex", shaders::brush_vertex, kBrushStages[tool].name,
                                    {shaders::common, shaders::brush_inputs, kBrushStages[tool].source});
        if (auto* error = std::get_if<QString>(&program)) return *error;
        brushPrograms_[tool] = std::get<GLuint>(program);
    }

    auto composite = buildProgram(*this, "fullscreen_vertex", shaders::fullscreen_vertex,
                                  "composite_fragment", {shaders::common, shaders::composite_fragment});
    if (auto* error = std::get_if<QString>(&composite)) return *error;
    compositeProgram_ = std::get<GLuint>(composite);
    compositeUniforms_ = {glGetUniformLocation(compositeProgram_, "uSize"),
                          glGetUniformLocation(compositeProgram_, "uTime"),
                          glGetUniformLocation(compositeProgram_, "uZoom"),
                          glGetUniformLocation(compositeProgram_, "uPan"),
                          glGetUniformLocation(compositeProgram_, "uCanvas"),
                          glGetUniformLocation(compositeProgram_, "uLineArt"),
                          glGetUniformLocation(compositeProgram_, "uPaper")};

    auto cursor = buildProgram(*this, "cursor_vertex", shaders::cursor_vertex, "cursor_fragment",
                               {shaders::common, shaders::cursor_fragment});
    if (auto* error = std::get_if<QString>(&cursor)) return *error;
    cursorProgram_ = std::get<GLuint>(cursor);
    cursorUniforms_ = {
        glGetUniformLocation(cursorProgram_, "uCenter"),    glGetUniformLocation(cursorProgram_, "uViewSize"),
        glGetUniformLocation(cursorProgram_, "uColor"),     glGetUniformLocation(cursorProgram_, "uRadius"),
        glGetUniformLocation(cursorProgram_, "uRingWidth"), glGetUniformLocation(cursorProgram_, "uFilled")};

    auto overlay = buildProgram(*this, "overlay_vertex", shaders::overlay_vertex, "overlay_fragment",
                                {shaders::overlay_fragment});
    if (auto* error = std::get_if<QString>(&overlay)) return *error;
    overlayProgram_ = std::get<GLuint>(overlay);
    overlayUniforms_ = {glGetUniformLocation(overlayProgram_, "uViewSize"),
                        glGetUniformLocation(overlayProgram_, "uImageSize"),
                        glGetUniformLocation(overlayProgram_, "uImage")};
    return {};
}

QString Renderer::createImages() {
    glGenVertexArrays(1, &emptyVertexArray_);
    glGenVertexArrays(1, &stampVertexArray_);
    glGenBuffers(1, &instanceBuffer_);
    glBindVertexArray(stampVertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, instanceBuffer_);
    for (GLuint attribute = 0; attribute < 3; ++attribute) {
        glEnableVertexAttribArray(attribute);
        glVertexAttribDivisor(attribute, 1);
    }
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    GLfloat pointSizes[2] = {1, 1};
    glGetFloatv(GL_POINT_SIZE_RANGE, pointSizes);
    maxPointSize_ = pointSizes[1];

    while (glGetError() != GL_NO_ERROR) {
    }
    canvasTexture_ = makeTexture(GL_RGBA8, kCanvasPixels, nullptr);
    glGenFramebuffers(1, &canvasFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, canvasFramebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, canvasTexture_, 0);
    const bool canvasOk = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!canvasOk || glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create canvas texture");

    const unsigned char transparent[4] = {0, 0, 0, 0};
    transparentTexture_ = makeTexture(GL_RGBA8, 1, transparent);
    if (glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create default transparent texture");
    return {};
}

// Bilinear, clamped at the edges, no mip levels: how every texture of the canvas is sampled.
void Renderer::setSamplingParameters() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
}

GLuint Renderer::makeTexture(GLenum format, GLsizei size, const void* pixels) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    setSamplingParameters();
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

QString Renderer::bakePaper() {
    auto bake = buildProgram(*this, "fullscreen_vertex", shaders::fullscreen_vertex, "paper_fragment",
                             {shaders::common, shaders::paper, shaders::paper_fragment});
    if (auto* error = std::get_if<QString>(&bake)) return *error;
    const GLuint program = std::get<GLuint>(bake);

    while (glGetError() != GL_NO_ERROR) {
    }
    paperTexture_ = makeTexture(GL_RGBA16, kPaperPixels, nullptr);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, paperTexture_, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        glViewport(0, 0, kPaperPixels, kPaperPixels);
        glDisable(GL_BLEND);
        glUseProgram(program);
        glUniform2f(glGetUniformLocation(program, "uPaperSize"), float(kPaperPixels), float(kPaperPixels));
        glBindVertexArray(emptyVertexArray_);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteProgram(program);
    if (!complete || glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create paper texture");
    return {};
}

void Renderer::releaseGL() {
    // Names of another (or a destroyed) context must not be deleted here: they went with it.
    if (context_ && QOpenGLContext::currentContext() == context_) {
        for (GLuint program : brushPrograms_) glDeleteProgram(program);
        glDeleteProgram(compositeProgram_);
        glDeleteProgram(cursorProgram_);
        glDeleteProgram(overlayProgram_);
        glDeleteVertexArrays(1, &emptyVertexArray_);
        glDeleteVertexArrays(1, &stampVertexArray_);
        glDeleteBuffers(1, &instanceBuffer_);
        glDeleteFramebuffers(1, &canvasFramebuffer_);
        const GLuint textures[5] = {canvasTexture_, transparentTexture_, lineArtTexture_, paperTexture_,
                                    overlayTexture_};
        glDeleteTextures(5, textures);
        for (GLsync fence : inkFences_) glDeleteSync(fence);
    }
    inkFences_.clear();
    brushPrograms_.fill(0);
    compositeProgram_ = cursorProgram_ = overlayProgram_ = 0;
    emptyVertexArray_ = stampVertexArray_ = instanceBuffer_ = 0;
    canvasFramebuffer_ = canvasTexture_ = transparentTexture_ = lineArtTexture_ = paperTexture_ = 0;
    overlayTexture_ = 0;
    instanceCapacity_ = 0;
    initialized_ = false;
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
    clearPending_ = true;
}

void Renderer::setLineArt(const QImage& image) {
    lineArt_ = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888);
    pendingLineArt_ = lineArt_;
}

QImage decodeLineArt(const QByteArray& bytes) {
    QByteArray data = bytes;
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
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

bool Renderer::hasLineArt() const {
    return !lineArt_.isNull();
}

void Renderer::render(GLuint targetFramebuffer) {
    if (!initialized_) return;
    GlStateGuard guard(*this);
    if (width_ == 0 || height_ == 0) {
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        width_ = viewport[2];
        height_ = viewport[3];
    }
    time_ += kFrameTime;

    if (pendingLineArt_) {
        uploadLineArt(*pendingLineArt_);
        pendingLineArt_.reset();
    }
    paintQueuedInk();
    compositePass(targetFramebuffer);
}

void Renderer::paintInk() {
    if (!initialized_) return;
    GlStateGuard guard(*this);
    paintQueuedInk();
    inkFences_.push_back(glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0));
    glFlush();
}

std::size_t Renderer::inkInFlight() {
    while (!inkFences_.empty() && glClientWaitSync(inkFences_.front(), 0, 0) != GL_TIMEOUT_EXPIRED) {
        glDeleteSync(inkFences_.front());
        inkFences_.pop_front();
    }
    return inkFences_.size();
}

void Renderer::paintQueuedInk() {
    if (clearPending_) {
        clearCanvasTexture();
        clearPending_ = false;
    }
    if (!stamper_.pendingStamps().empty()) stampPass();
    stamper_.clearPending();
}

void Renderer::clearCanvasTexture() {
    glBindFramebuffer(GL_FRAMEBUFFER, canvasFramebuffer_);
    glViewport(0, 0, kCanvasPixels, kCanvasPixels);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
}

void Renderer::uploadLineArt(const QImage& image) {
    if (lineArtTexture_) {
        glDeleteTextures(1, &lineArtTexture_);
        lineArtTexture_ = 0;
    }
    if (image.isNull()) return;

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    QImage fitted = image;
    if (image.width() > maxSize || image.height() > maxSize) {
        // It is stretched over the canvas anyway; only its detail is lost.
        fitted = image
                     .scaled(std::min(image.width(), maxSize), std::min(image.height(), maxSize),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                     .convertToFormat(QImage::Format_RGBA8888);
    }

    glGenTextures(1, &lineArtTexture_);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, lineArtTexture_);
    setSamplingParameters();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(fitted.bytesPerLine() / 4));
    // Row 0 of the image is its top, and row 0 of a texture is sampled at v = 0 = canvas top.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, fitted.width(), fitted.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 fitted.constBits());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void Renderer::stampPass() {
    const std::vector<PendingStamp>& stamps = stamper_.pendingStamps();
    glBindFramebuffer(GL_FRAMEBUFFER, canvasFramebuffer_);
    glViewport(0, 0, kCanvasPixels, kCanvasPixels);
    useStampBlend(*this);
    glEnable(GL_PROGRAM_POINT_SIZE);
    glBindVertexArray(stampVertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, instanceBuffer_);

    for (std::size_t start = 0; start < stamps.size(); start += kMaxInstancesPerUpload) {
        const std::size_t count = std::min(kMaxInstancesPerUpload, stamps.size() - start);
        const std::span<const PendingStamp> chunk(stamps.data() + start, count);
        if (count > instanceCapacity_) {
            instanceCapacity_ = std::min(std::max(count, instanceCapacity_ * 2), kMaxInstancesPerUpload);
        }
        // Fresh storage of the same size every fill, so no draw in flight is waited for.
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(instanceCapacity_ * sizeof(BrushInstance)),
                     nullptr, GL_STREAM_DRAW);
        auto* instances = static_cast<BrushInstance*>(
            glMapBufferRange(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count * sizeof(BrushInstance)),
                             GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT));
        if (!instances) continue;
        for (std::size_t i = 0; i < count; ++i) {
            const PendingStamp& s = chunk[i];
            instances[i] = {{s.center.x, s.center.y},
                            {kCanvasSize, kCanvasSize},
                            {s.color.r, s.color.g, s.color.b, s.color.a},
                            s.radius,
                            s.opacity,
                            s.seed,
                            0.0f};
        }
        glUnmapBuffer(GL_ARRAY_BUFFER);

        planStampRuns(chunk, maxPointSize_, float(kCanvasPixels), runs_);
        for (const StampRun& run : runs_) {
            glUseProgram(brushPrograms_[static_cast<std::size_t>(run.tool)]);
            const auto base = static_cast<std::uintptr_t>(run.first * sizeof(BrushInstance));
            for (GLuint attribute = 0; attribute < 3; ++attribute) {
                glVertexAttribPointer(attribute, 4, GL_FLOAT, GL_FALSE, sizeof(BrushInstance),
                                      reinterpret_cast<const void*>(base + attribute * 4 * sizeof(float)));
            }
            if (run.points)
                glDrawArraysInstanced(GL_POINTS, 6, 1, static_cast<GLsizei>(run.count));
            else
                glDrawArraysInstanced(GL_TRIANGLES, 0, 6, static_cast<GLsizei>(run.count));
        }
    }
}

void Renderer::compositePass(GLuint targetFramebuffer) {
    glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    glViewport(0, 0, width_, height_);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    glDisable(GL_BLEND);
    glUseProgram(compositeProgram_);
    glUniform2f(compositeUniforms_.size, static_cast<float>(width_), static_cast<float>(height_));
    glUniform1f(compositeUniforms_.time, time_);
    glUniform1f(compositeUniforms_.zoom, zoom_);
    glUniform2f(compositeUniforms_.pan, pan_.x, pan_.y);
    glUniform1i(compositeUniforms_.canvas, 0);
    glUniform1i(compositeUniforms_.lineArt, 1);
    glUniform1i(compositeUniforms_.paper, 2);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, canvasTexture_);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, lineArtTexture_ ? lineArtTexture_ : transparentTexture_);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, paperTexture_);
    glBindVertexArray(emptyVertexArray_);
    glDrawArrays(GL_TRIANGLES, 0, 6);

    drawCursors();
    drawOverlay();
}

void Renderer::drawCursors() {
    const Vec2f size{static_cast<float>(width_), static_cast<float>(height_)};
    planCursors(selfCursor_, peerCursors_, zoom_, pan_, size, cursorDraws_);
    if (cursorDraws_.empty()) return;
    useStampBlend(*this);
    glUseProgram(cursorProgram_);
    glUniform2f(cursorUniforms_.viewSize, size.x, size.y);
    for (const CursorDraw& cursor : cursorDraws_) {
        glUniform2f(cursorUniforms_.center, cursor.center.x, cursor.center.y);
        glUniform4f(cursorUniforms_.color, cursor.color.r, cursor.color.g, cursor.color.b, cursor.color.a);
        glUniform1f(cursorUniforms_.radius, cursor.radius);
        glUniform1f(cursorUniforms_.ringWidth, cursor.ringWidth);
        glUniform1f(cursorUniforms_.filled, cursor.filled);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
}

void Renderer::drawOverlay() {
    if (overlayPending_) {
        overlayPending_ = false;
        if (!overlay_.isNull()) {
            if (!overlayTexture_) glGenTextures(1, &overlayTexture_);
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, overlayTexture_);
            setSamplingParameters();
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(overlay_.bytesPerLine() / 4));
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, overlay_.width(), overlay_.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, overlay_.constBits());
            glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        }
    }
    if (overlay_.isNull() || !overlayTexture_) return;
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glUseProgram(overlayProgram_);
    glUniform2f(overlayUniforms_.viewSize, static_cast<float>(width_), static_cast<float>(height_));
    glUniform2f(overlayUniforms_.imageSize, static_cast<float>(overlay_.width()),
                static_cast<float>(overlay_.height()));
    glUniform1i(overlayUniforms_.image, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, overlayTexture_);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

}  // namespace vellumora
