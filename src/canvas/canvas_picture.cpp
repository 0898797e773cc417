#include "canvas/canvas_picture.h"

#include "canvas/frame_passes.h"
#include "canvas/gl_support.h"
#include "canvas/ink_layer.h"

#include <QSaveFile>

#include <algorithm>

namespace vellumora {

bool PictureReadBack::start(QOpenGLFunctions_3_3_Core& gl, CompositePass& composite, GLuint ink,
                            GLuint vertexArray) {
    constexpr GLsizei kPixels = InkLayer::kPixels;
    constexpr GLsizeiptr kBytes = GLsizeiptr(kPixels) * kPixels * 4;
    gl_ = &gl;
    buffer_.reset();
    fence_.reset();
    while (gl.glGetError() != GL_NO_ERROR) {
    }
    // The target may go as soon as the read-back is queued: GL keeps it until it is done.
    const GlTexture target = makeTexture(gl, GL_RGBA8, kPixels, nullptr);
    const GlFramebuffer framebuffer = GlFramebuffer::generate(gl);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
    GlBuffer buffer = GlBuffer::generate(gl);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        gl.glViewport(0, 0, kPixels, kPixels);
        gl.glBindVertexArray(vertexArray);
        // At zoom 1 in a square target the canvas covers every pixel.
        composite.draw({{float(kPixels), float(kPixels)}, 0, 1, {}, ink});
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer.id());
        gl.glBufferData(GL_PIXEL_PACK_BUFFER, kBytes, nullptr, GL_STREAM_READ);
        gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
        gl.glReadPixels(0, 0, kPixels, kPixels, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (gl.glGetError() != GL_NO_ERROR) return false;
    buffer_ = std::move(buffer);
    fence_.emplace(gl);
    gl.glFlush();  // so the fence is reached without anybody waiting on it
    return true;
}

std::optional<QImage> PictureReadBack::take() {
    if (!buffer_) return QImage();
    if (!fence_->isSignalled()) return std::nullopt;
    return wait();
}

QImage PictureReadBack::wait() {
    if (!buffer_) return {};
    constexpr GLsizei kPixels = InkLayer::kPixels;
    QImage image(kPixels, kPixels, QImage::Format_RGBA8888);
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer_->id());
    const auto* pixels = static_cast<const uchar*>(
        gl.glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, image.sizeInBytes(), GL_MAP_READ_BIT));
    if (pixels) {
        std::copy(pixels, pixels + image.sizeInBytes(), image.bits());
        gl.glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    } else {
        image = QImage();
    }
    gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    buffer_.reset();
    fence_.reset();
    return image;
}

QImage finishPicture(const QImage& readBack) {
    return readBack.mirrored(false, true).convertToFormat(QImage::Format_RGB888);
}

QString writePicturePng(const QImage& picture, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    if (!picture.save(&file, "png")) {
        file.cancelWriting();
        return file.error() != QFileDevice::NoError ? file.errorString()
                                                    : QStringLiteral("the picture could not be encoded");
    }
    if (!file.commit()) return file.errorString();
    return {};
}

}  // namespace vellumora
