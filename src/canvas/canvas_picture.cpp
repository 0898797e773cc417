#include "canvas/canvas_picture.h"

#include "canvas/frame_passes.h"
#include "canvas/gl_support.h"
#include "canvas/ink_layer.h"

#include <QSaveFile>

namespace vellumora {

QImage composePicture(QOpenGLFunctions_3_3_Core& gl, CompositePass& composite, GLuint ink,
                      GLuint vertexArray) {
    constexpr GLsizei kPixels = InkLayer::kPixels;
    while (gl.glGetError() != GL_NO_ERROR) {
    }
    const GlTexture target = makeTexture(gl, GL_RGBA8, kPixels, nullptr);
    const GlFramebuffer framebuffer = GlFramebuffer::generate(gl);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
    QImage image;
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        gl.glViewport(0, 0, kPixels, kPixels);
        gl.glBindVertexArray(vertexArray);
        // At zoom 1 in a square target the canvas covers every pixel.
        composite.draw({{float(kPixels), float(kPixels)}, 0, 1, {}, ink});
        image = QImage(kPixels, kPixels, QImage::Format_RGBA8888);
        gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
        gl.glReadPixels(0, 0, kPixels, kPixels, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (gl.glGetError() != GL_NO_ERROR) return {};
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
