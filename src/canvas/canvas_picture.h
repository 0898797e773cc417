#pragma once
// The picture of the canvas as it is shown (paper, ink and line art) at the canvas's full size,
// not as the view is zoomed: composed offscreen and read back where the GL context is current,
// then finished and written as PNG on any thread.

#include "canvas/gl_object.h"

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QString>

#include <optional>

namespace vellumora {

class CompositePass;

// The composite of the ink under the line art on its paper, drawn into an offscreen target and
// read back once the GPU has drawn it: the caller polls instead of waiting, so the event loop is
// not held while a software rasteriser composes 2048 × 2048 pixels (reading back pixels already
// drawn is a copy). Its GL objects live in the context current at start(); every call needs it
// current.
class PictureReadBack {
  public:
    // Starts composing; false, with nothing under way, when the GPU could not make the target.
    bool start(QOpenGLFunctions_3_3_Core& gl, CompositePass& composite, GLuint ink, GLuint vertexArray);
    // Once the GPU is done: the pixels, rows bottom-up as GL reads them (finishPicture turns them),
    // or a null image when they could not be read; nothing is under way after it. None before.
    std::optional<QImage> take();
    // Waits for the GPU and takes the pixels.
    QImage wait();

  private:
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    std::optional<GlTexture> target_;
    std::optional<GlFramebuffer> framebuffer_;
    std::optional<GlFence> fence_;
};

// Any thread: the read-back as an opaque image, top row first.
QImage finishPicture(const QImage& readBack);

// Any thread: writes `picture` as a PNG at `path`; a file already there is replaced only once
// the whole picture is written. An empty text on success, otherwise why it failed.
QString writePicturePng(const QImage& picture, const QString& path);

}  // namespace vellumora
