#pragma once
// The picture of the canvas as it is shown (paper, ink and line art) at the canvas's full size,
// not as the view is zoomed: composed offscreen and read back where the GL context is current,
// then finished and written as PNG on any thread.

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QString>

namespace vellumora {

class CompositePass;

// With a current context: the composite of `ink` under `composite`'s line art on its paper, into
// an offscreen target, read back with its rows bottom-up as GL reads them (finishPicture turns
// them). A null image if the GPU could not make the target.
QImage composePicture(QOpenGLFunctions_3_3_Core& gl, CompositePass& composite, GLuint ink,
                      GLuint vertexArray);

// Any thread: the read-back as an opaque image, top row first.
QImage finishPicture(const QImage& readBack);

// Any thread: writes `picture` as a PNG at `path`; a file already there is replaced only once
// the whole picture is written. An empty text on success, otherwise why it failed.
QString writePicturePng(const QImage& picture, const QString& path);

}  // namespace vellumora
