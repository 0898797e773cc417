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

Renderer::Renderer(StrokeStamper::SeedSource seeds) : m_stamper(std::move(seeds)) {}

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
    m_context = context;
    // Images of an earlier context went with it; the line art is kept on this side.
    if (!m_pendingLineArt && !m_lineArt.isNull()) m_pendingLineArt = m_lineArt;
    m_overlayPending = !m_overlay.isNull();

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
    m_initialized = true;
    clearCanvasTexture();
    m_clearPending = false;
    return {};
}

QString Renderer::buildPrograms() {
    for (std::size_t tool = 0; tool < kBrushStages.size(); ++tool) {
        auto program = buildProgram(*this, "brush_vertex", shaders::brush_vertex, kBrushStages[tool].name,
                                    {shaders::common, shaders::brush_inputs, kBrushStages[tool].source});
        if (auto* error = std::get_if<QString>(&program)) return *error;
        m_brushPrograms[tool] = std::get<GLuint>(program);
    }

    auto composite = buildProgram(*this, "fullscreen_vertex", shaders::fullscreen_vertex,
                                  "composite_fragment", {shaders::common, shaders::composite_fragment});
    if (auto* error = std::get_if<QString>(&composite)) return *error;
    m_compositeProgram = std::get<GLuint>(composite);
    m_compositeUniforms = {glGetUniformLocation(m_compositeProgram, "uSize"),
                           glGetUniformLocation(m_compositeProgram, "uTime"),
                           glGetUniformLocation(m_compositeProgram, "uZoom"),
                           glGetUniformLocation(m_compositeProgram, "uPan"),
                           glGetUniformLocation(m_compositeProgram, "uCanvas"),
                           glGetUniformLocation(m_compositeProgram, "uLineArt"),
                           glGetUniformLocation(m_compositeProgram, "uPaper")};

    auto cursor = buildProgram(*this, "cursor_vertex", shaders::cursor_vertex, "cursor_fragment",
                               {shaders::common, shaders::cursor_fragment});
    if (auto* error = std::get_if<QString>(&cursor)) return *error;
    m_cursorProgram = std::get<GLuint>(cursor);
    m_cursorUniforms = {glGetUniformLocation(m_cursorProgram, "uCenter"),
                        glGetUniformLocation(m_cursorProgram, "uViewSize"),
                        glGetUniformLocation(m_cursorProgram, "uColor"),
                        glGetUniformLocation(m_cursorProgram, "uRadius"),
                        glGetUniformLocation(m_cursorProgram, "uRingWidth"),
                        glGetUniformLocation(m_cursorProgram, "uFilled")};

    auto overlay = buildProgram(*this, "overlay_vertex", shaders::overlay_vertex, "overlay_fragment",
                                {shaders::overlay_fragment});
    if (auto* error = std::get_if<QString>(&overlay)) return *error;
    m_overlayProgram = std::get<GLuint>(overlay);
    m_overlayUniforms = {glGetUniformLocation(m_overlayProgram, "uViewSize"),
                         glGetUniformLocation(m_overlayProgram, "uImageSize"),
                         glGetUniformLocation(m_overlayProgram, "uImage")};
    return {};
}

QString Renderer::createImages() {
    glGenVertexArrays(1, &m_emptyVertexArray);
    glGenVertexArrays(1, &m_stampVertexArray);
    glGenBuffers(1, &m_instanceBuffer);
    glBindVertexArray(m_stampVertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, m_instanceBuffer);
    for (GLuint attribute = 0; attribute < 3; ++attribute) {
        glEnableVertexAttribArray(attribute);
        glVertexAttribDivisor(attribute, 1);
    }
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    GLfloat pointSizes[2] = {1, 1};
    glGetFloatv(GL_POINT_SIZE_RANGE, pointSizes);
    m_maxPointSize = pointSizes[1];

    while (glGetError() != GL_NO_ERROR) {
    }
    m_canvasTexture = makeTexture(GL_RGBA8, kCanvasPixels, nullptr);
    glGenFramebuffers(1, &m_canvasFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_canvasFramebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_canvasTexture, 0);
    const bool canvasOk = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!canvasOk || glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create canvas texture");

    const unsigned char transparent[4] = {0, 0, 0, 0};
    m_transparentTexture = makeTexture(GL_RGBA8, 1, transparent);
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
    m_paperTexture = makeTexture(GL_RGBA16, kPaperPixels, nullptr);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_paperTexture, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        glViewport(0, 0, kPaperPixels, kPaperPixels);
        glDisable(GL_BLEND);
        glUseProgram(program);
        glUniform2f(glGetUniformLocation(program, "uPaperSize"), float(kPaperPixels), float(kPaperPixels));
        glBindVertexArray(m_emptyVertexArray);
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
    if (m_context && QOpenGLContext::currentContext() == m_context) {
        for (GLuint program : m_brushPrograms) glDeleteProgram(program);
        glDeleteProgram(m_compositeProgram);
        glDeleteProgram(m_cursorProgram);
        glDeleteProgram(m_overlayProgram);
        glDeleteVertexArrays(1, &m_emptyVertexArray);
        glDeleteVertexArrays(1, &m_stampVertexArray);
        glDeleteBuffers(1, &m_instanceBuffer);
        glDeleteFramebuffers(1, &m_canvasFramebuffer);
        const GLuint textures[5] = {m_canvasTexture, m_transparentTexture, m_lineArtTexture, m_paperTexture,
                                    m_overlayTexture};
        glDeleteTextures(5, textures);
        for (GLsync fence : m_inkFences) glDeleteSync(fence);
    }
    m_inkFences.clear();
    m_brushPrograms.fill(0);
    m_compositeProgram = m_cursorProgram = m_overlayProgram = 0;
    m_emptyVertexArray = m_stampVertexArray = m_instanceBuffer = 0;
    m_canvasFramebuffer = m_canvasTexture = m_transparentTexture = m_lineArtTexture = m_paperTexture = 0;
    m_overlayTexture = 0;
    m_instanceCapacity = 0;
    m_initialized = false;
    m_context = nullptr;
}

void Renderer::resize(int width, int height) {
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
}

void Renderer::beginStroke(const std::string& id, CanvasPoint at, Tool tool, Color4f color, float radius) {
    m_stamper.beginStroke(id, at, tool, color, radius);
}

void Renderer::appendPoint(const std::string& id, CanvasPoint point) {
    m_stamper.appendPoint(id, point);
}

void Renderer::endStroke(const std::string& id) {
    m_stamper.endStroke(id);
}

void Renderer::resetCanvas() {
    m_stamper.reset();
    m_clearPending = true;
}

void Renderer::setLineArt(const QImage& image) {
    m_lineArt = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888);
    m_pendingLineArt = m_lineArt;
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
    m_overlay = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    m_overlayPending = true;
}

bool Renderer::hasLineArt() const {
    return !m_lineArt.isNull();
}

void Renderer::render(GLuint targetFramebuffer) {
    if (!m_initialized) return;
    GlStateGuard guard(*this);
    if (m_width == 0 || m_height == 0) {
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        m_width = viewport[2];
        m_height = viewport[3];
    }
    m_time += kFrameTime;

    if (m_pendingLineArt) {
        uploadLineArt(*m_pendingLineArt);
        m_pendingLineArt.reset();
    }
    paintQueuedInk();
    compositePass(targetFramebuffer);
}

void Renderer::paintInk() {
    if (!m_initialized) return;
    GlStateGuard guard(*this);
    paintQueuedInk();
    m_inkFences.push_back(glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0));
    glFlush();
}

std::size_t Renderer::inkInFlight() {
    while (!m_inkFences.empty() && glClientWaitSync(m_inkFences.front(), 0, 0) != GL_TIMEOUT_EXPIRED) {
        glDeleteSync(m_inkFences.front());
        m_inkFences.pop_front();
    }
    return m_inkFences.size();
}

void Renderer::paintQueuedInk() {
    if (m_clearPending) {
        clearCanvasTexture();
        m_clearPending = false;
    }
    if (!m_stamper.pendingStamps().empty()) stampPass();
    m_stamper.clearPending();
}

void Renderer::clearCanvasTexture() {
    glBindFramebuffer(GL_FRAMEBUFFER, m_canvasFramebuffer);
    glViewport(0, 0, kCanvasPixels, kCanvasPixels);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
}

void Renderer::uploadLineArt(const QImage& image) {
    if (m_lineArtTexture) {
        glDeleteTextures(1, &m_lineArtTexture);
        m_lineArtTexture = 0;
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

    glGenTextures(1, &m_lineArtTexture);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, m_lineArtTexture);
    setSamplingParameters();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(fitted.bytesPerLine() / 4));
    // Row 0 of the image is its top, and row 0 of a texture is sampled at v = 0 = canvas top.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, fitted.width(), fitted.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 fitted.constBits());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void Renderer::stampPass() {
    const std::vector<PendingStamp>& stamps = m_stamper.pendingStamps();
    glBindFramebuffer(GL_FRAMEBUFFER, m_canvasFramebuffer);
    glViewport(0, 0, kCanvasPixels, kCanvasPixels);
    useStampBlend(*this);
    glEnable(GL_PROGRAM_POINT_SIZE);
    glBindVertexArray(m_stampVertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, m_instanceBuffer);

    for (std::size_t start = 0; start < stamps.size(); start += kMaxInstancesPerUpload) {
        const std::size_t count = std::min(kMaxInstancesPerUpload, stamps.size() - start);
        const std::span<const PendingStamp> chunk(stamps.data() + start, count);
        if (count > m_instanceCapacity) {
            m_instanceCapacity = std::min(std::max(count, m_instanceCapacity * 2), kMaxInstancesPerUpload);
        }
        // Fresh storage of the same size every fill, so no draw in flight is waited for.
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_instanceCapacity * sizeof(BrushInstance)),
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

        planStampRuns(chunk, m_maxPointSize, float(kCanvasPixels), m_runs);
        for (const StampRun& run : m_runs) {
            glUseProgram(m_brushPrograms[static_cast<std::size_t>(run.tool)]);
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
    glViewport(0, 0, m_width, m_height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    glDisable(GL_BLEND);
    glUseProgram(m_compositeProgram);
    glUniform2f(m_compositeUniforms.size, static_cast<float>(m_width), static_cast<float>(m_height));
    glUniform1f(m_compositeUniforms.time, m_time);
    glUniform1f(m_compositeUniforms.zoom, m_zoom);
    glUniform2f(m_compositeUniforms.pan, m_pan.x, m_pan.y);
    glUniform1i(m_compositeUniforms.canvas, 0);
    glUniform1i(m_compositeUniforms.lineArt, 1);
    glUniform1i(m_compositeUniforms.paper, 2);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_canvasTexture);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, m_lineArtTexture ? m_lineArtTexture : m_transparentTexture);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, m_paperTexture);
    glBindVertexArray(m_emptyVertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 6);

    drawCursors();
    drawOverlay();
}

void Renderer::drawCursors() {
    const Vec2f size{static_cast<float>(m_width), static_cast<float>(m_height)};
    planCursors(m_selfCursor, m_peerCursors, m_zoom, m_pan, size, m_cursorDraws);
    if (m_cursorDraws.empty()) return;
    useStampBlend(*this);
    glUseProgram(m_cursorProgram);
    glUniform2f(m_cursorUniforms.viewSize, size.x, size.y);
    for (const CursorDraw& cursor : m_cursorDraws) {
        glUniform2f(m_cursorUniforms.center, cursor.center.x, cursor.center.y);
        glUniform4f(m_cursorUniforms.color, cursor.color.r, cursor.color.g, cursor.color.b, cursor.color.a);
        glUniform1f(m_cursorUniforms.radius, cursor.radius);
        glUniform1f(m_cursorUniforms.ringWidth, cursor.ringWidth);
        glUniform1f(m_cursorUniforms.filled, cursor.filled);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
}

void Renderer::drawOverlay() {
    if (m_overlayPending) {
        m_overlayPending = false;
        if (!m_overlay.isNull()) {
            if (!m_overlayTexture) glGenTextures(1, &m_overlayTexture);
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, m_overlayTexture);
            setSamplingParameters();
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(m_overlay.bytesPerLine() / 4));
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, m_overlay.width(), m_overlay.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, m_overlay.constBits());
            glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        }
    }
    if (m_overlay.isNull() || !m_overlayTexture) return;
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glUseProgram(m_overlayProgram);
    glUniform2f(m_overlayUniforms.viewSize, static_cast<float>(m_width), static_cast<float>(m_height));
    glUniform2f(m_overlayUniforms.imageSize, static_cast<float>(m_overlay.width()),
                static_cast<float>(m_overlay.height()));
    glUniform1i(m_overlayUniforms.image, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_overlayTexture);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

}  // namespace vellumora
