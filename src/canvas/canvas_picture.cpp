#include "canvas/canvas_picture.h"

#include "canvas/frame_passes.h"
#include "canvas/gl_support.h"
#include "canvas/ink_layer.h"

#include <QSaveFile>

namespace vellumora {

bool PictureReadBack::start(QOpenGLFunctions_3_3_Core& gl, CompositePass& composite, GLuint ink,
                            GLuint vertexArray) {
    constexpr GLsizei kPixels = InkLayer::kPixels;
    gl_ = &gl;
    fence_.reset();
    while (gl.glGetError() != GL_NO_ERROR) {
    }
    target_ = makeTexture(gl, GL_RGBA8, kPixels, nullptr);
    framebuffer_ = GlFramebuffer::generate(gl);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_->id());
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target_->id(), 0);
    const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        gl.glViewport(0, 0, kPixels, kPixels);
        gl.glBindVertexArray(vertexArray);
        // At zoom 1 in a square target the canvas covers every pixel.
        composite.draw({{float(kPixels), float(kPixels)}, 0, 1, {}, ink});
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete || gl.glGetError() != GL_NO_ERROR) {
        framebuffer_.reset();
        target_.reset();
        return false;
    }
    fence_.emplace(gl);
    gl.glFlush();  // so the fence is reached without anybody waiting on it
    return true;
}

std::optional<QImage> PictureReadBack::take() {
    if (fence_ && !fence_->isSignalled()) return std::nullopt;
    return wait();
}

QImage PictureReadBack::wait() {
    if (!framebuffer_) return {};
    constexpr GLsizei kPixels = InkLayer::kPixels;
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    QImage image(kPixels, kPixels, QImage::Format_RGBA8888);
    gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_->id());
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glReadPixels(0, 0, kPixels, kPixels, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    if (gl.glGetError() != GL_NO_ERROR) image = QImage();
    fence_.reset();
    framebuffer_.reset();
    target_.reset();
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
