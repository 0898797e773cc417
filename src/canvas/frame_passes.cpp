#include "canvas/frame_passes.h"

#include "canvas/gl_support.h"
#include "canvas/ink_layer.h"
#include "canvas/shader_sources.h"

#include <algorithm>

namespace vellumora {

namespace {

// The paper has no detail finer than ~1/9 of the canvas, so 1024 texels per side carry it
// within 1e-4 of the formula (16 bits per channel keep the quantisation below that too).
constexpr GLsizei kPaperPixels = 1024;

}  // namespace

QString CompositePass::create(QOpenGLFunctions_3_3_Core& gl, GLuint vertexArray) {
    gl_ = &gl;
    if (QString error = buildProgram(program_, gl, "fullscreen_vertex", shaders::fullscreen_vertex,
                                     "composite_fragment", {shaders::common, shaders::composite_fragment});
        !error.isEmpty())
        return error;
    const GLuint p = program_.id();
    uniforms_ = {gl.glGetUniformLocation(p, "uSize"),   gl.glGetUniformLocation(p, "uTime"),
                 gl.glGetUniformLocation(p, "uZoom"),   gl.glGetUniformLocation(p, "uPan"),
                 gl.glGetUniformLocation(p, "uCanvas"), gl.glGetUniformLocation(p, "uLineArt"),
                 gl.glGetUniformLocation(p, "uPaper")};

    while (gl.glGetError() != GL_NO_ERROR) {
    }
    const unsigned char transparent[4] = {0, 0, 0, 0};
    transparent_ = makeTexture(gl, GL_RGBA8, 1, transparent);
    if (gl.glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create default transparent texture");
    return bakePaper(vertexArray);
}

QString CompositePass::bakePaper(GLuint vertexArray) {
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    auto bake = buildProgram(gl, "fullscreen_vertex", shaders::fullscreen_vertex, "paper_fragment",
                             {shaders::common, shaders::paper, shaders::paper_fragment});
    if (auto* error = std::get_if<QString>(&bake)) return *error;
    const GlProgram& program = std::get<GlProgram>(bake);

    while (gl.glGetError() != GL_NO_ERROR) {
    }
    paper_ = makeTexture(gl, GL_RGBA16, kPaperPixels, nullptr);
    const GlFramebuffer framebuffer = GlFramebuffer::generate(gl);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, paper_.id(), 0);
    const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        gl.glViewport(0, 0, kPaperPixels, kPaperPixels);
        gl.glDisable(GL_BLEND);
        gl.glUseProgram(program.id());
        gl.glUniform2f(gl.glGetUniformLocation(program.id(), "uPaperSize"), float(kPaperPixels),
                       float(kPaperPixels));
        gl.glBindVertexArray(vertexArray);
        gl.glDrawArrays(GL_TRIANGLES, 0, 6);
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete || gl.glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create paper texture");
    return {};
}

void CompositePass::setLineArt(const QImage& image) {
    lineArt_.reset();
    if (image.isNull()) return;

    QOpenGLFunctions_3_3_Core& gl = *gl_;
    GLint maxSize = 0;
    gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    QImage fitted = image;
    if (image.width() > maxSize || image.height() > maxSize) {
        // It is stretched over the canvas anyway; only its detail is lost.
        fitted = image
                     .scaled(std::min(image.width(), maxSize), std::min(image.height(), maxSize),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                     .convertToFormat(QImage::Format_RGBA8888);
    }
    lineArt_ = GlTexture::generate(gl);
    gl.glActiveTexture(GL_TEXTURE1);
    gl.glBindTexture(GL_TEXTURE_2D, lineArt_.id());
    setSamplingParameters(gl);
    // Row 0 of the image is its top, and row 0 of a texture is sampled at v = 0 = canvas top.
    uploadImage(gl, fitted);
}

void CompositePass::draw(const Inputs& inputs) {
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    gl.glDisable(GL_BLEND);
    gl.glUseProgram(program_.id());
    gl.glUniform2f(uniforms_.size, inputs.drawableSize.x, inputs.drawableSize.y);
    gl.glUniform1f(uniforms_.time, inputs.time);
    gl.glUniform1f(uniforms_.zoom, inputs.zoom);
    gl.glUniform2f(uniforms_.pan, inputs.pan.x, inputs.pan.y);
    gl.glUniform1i(uniforms_.canvas, 0);
    gl.glUniform1i(uniforms_.lineArt, 1);
    gl.glUniform1i(uniforms_.paper, 2);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, inputs.ink);
    gl.glActiveTexture(GL_TEXTURE1);
    gl.glBindTexture(GL_TEXTURE_2D, lineArt_ ? lineArt_.id() : transparent_.id());
    gl.glActiveTexture(GL_TEXTURE2);
    gl.glBindTexture(GL_TEXTURE_2D, paper_.id());
    gl.glDrawArrays(GL_TRIANGLES, 0, 6);
}

QString CursorPass::create(QOpenGLFunctions_3_3_Core& gl) {
    gl_ = &gl;
    if (QString error = buildProgram(program_, gl, "cursor_vertex", shaders::cursor_vertex, "cursor_fragment",
                                     {shaders::common, shaders::cursor_fragment});
        !error.isEmpty())
        return error;
    const GLuint p = program_.id();
    uniforms_ = {gl.glGetUniformLocation(p, "uCenter"),    gl.glGetUniformLocation(p, "uViewSize"),
                 gl.glGetUniformLocation(p, "uColor"),     gl.glGetUniformLocation(p, "uRadius"),
                 gl.glGetUniformLocation(p, "uRingWidth"), gl.glGetUniformLocation(p, "uFilled")};
    return {};
}

void CursorPass::draw(const std::vector<CursorDraw>& cursors, Vec2f drawableSize) {
    if (cursors.empty()) return;
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    useStampBlend(gl);
    gl.glUseProgram(program_.id());
    gl.glUniform2f(uniforms_.viewSize, drawableSize.x, drawableSize.y);
    for (const CursorDraw& cursor : cursors) {
        gl.glUniform2f(uniforms_.center, cursor.center.x, cursor.center.y);
        gl.glUniform4f(uniforms_.color, cursor.color.r, cursor.color.g, cursor.color.b, cursor.color.a);
        gl.glUniform1f(uniforms_.radius, cursor.radius);
        gl.glUniform1f(uniforms_.ringWidth, cursor.ringWidth);
        gl.glUniform1f(uniforms_.filled, cursor.filled);
        gl.glDrawArrays(GL_TRIANGLES, 0, 6);
    }
}

QString OverlayPass::create(QOpenGLFunctions_3_3_Core& gl) {
    gl_ = &gl;
    if (QString error = buildProgram(program_, gl, "overlay_vertex", shaders::overlay_vertex,
                                     "overlay_fragment", {shaders::overlay_fragment});
        !error.isEmpty())
        return error;
    const GLuint p = program_.id();
    uniforms_ = {gl.glGetUniformLocation(p, "uViewSize"), gl.glGetUniformLocation(p, "uImageSize"),
                 gl.glGetUniformLocation(p, "uOrigin"), gl.glGetUniformLocation(p, "uImage")};
    return {};
}

GlTexture OverlayPass::upload(const QImage& image) {
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    GlTexture texture = GlTexture::generate(gl);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, texture.id());
    setSamplingParameters(gl);
    uploadImage(gl, image);
    return texture;
}

void OverlayPass::draw(GLuint texture, QSize size, Vec2f origin, Vec2f drawableSize) {
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    gl.glEnable(GL_BLEND);
    gl.glBlendEquation(GL_FUNC_ADD);
    gl.glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    gl.glUseProgram(program_.id());
    gl.glUniform2f(uniforms_.viewSize, drawableSize.x, drawableSize.y);
    gl.glUniform2f(uniforms_.imageSize, static_cast<float>(size.width()), static_cast<float>(size.height()));
    gl.glUniform2f(uniforms_.origin, origin.x, origin.y);
    gl.glUniform1i(uniforms_.image, 0);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glDrawArrays(GL_TRIANGLES, 0, 6);
}

}  // namespace vellumora
