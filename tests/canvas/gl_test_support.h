#pragma once
// An OpenGL 3.3 core context on an offscreen surface (needs a display: Xvfb + llvmpipe under
// scripts/test-session), a colour target to render into, and pixel read-back.

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vellumora::testing {

struct Rgba8 {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

// Pixels read back, addressed with a TOP-left origin like the view and the canvas.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<Rgba8> bottomUp;
    Rgba8 at(int x, int yFromTop) const {
        return bottomUp[static_cast<std::size_t>((height - 1 - yFromTop) * width + x)];
    }
};

// An RGBA8 texture behind a framebuffer, standing in for the widget's framebuffer.
class RenderTarget {
  public:
    RenderTarget(QOpenGLFunctions_3_3_Core& gl, int width, int height);
    ~RenderTarget();
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;
    GLuint framebuffer() const { return m_framebuffer; }
    int width() const { return m_width; }
    int height() const { return m_height; }

  private:
    QOpenGLFunctions_3_3_Core& m_gl;
    GLuint m_texture = 0;
    GLuint m_framebuffer = 0;
    int m_width;
    int m_height;
};

class GlTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Reads a rectangle given in bottom-up GL rows of `framebuffer`.
    PixelImage read(GLuint framebuffer, int x, int y, int width, int height);

    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    QOpenGLFunctions_3_3_Core* gl = nullptr;
};

}  // namespace vellumora::testing
