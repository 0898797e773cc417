#pragma once
// An OpenGL 3.3 core context on an offscreen surface (needs a display: Xvfb + llvmpipe under
// scripts/test-session), a colour target to render into, and pixel read-back.

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vellumora::testing {

struct Rgba8 {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

// Pixels read back, addressed with a top-left origin like the view and the canvas.
struct PixelImage {
    int width = 0, height = 0;
    std::vector<Rgba8> rows;  // bottom-up, as GL reads them
    bool topDown = false;     // the canvas framebuffer already runs top-down
    Rgba8 at(int x, int y) const { return rows[std::size_t((topDown ? y : height - 1 - y) * width + x)]; }
};

// An RGBA8 texture behind a framebuffer, standing in for a widget's framebuffer.
class RenderTarget {
  public:
    RenderTarget(QOpenGLFunctions_3_3_Core& gl, int width, int height);
    ~RenderTarget();
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;
    GLuint framebuffer() const { return m_framebuffer; }

  private:
    QOpenGLFunctions_3_3_Core& m_gl;
    GLuint m_texture = 0;
    GLuint m_framebuffer = 0;
};

class GlTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Reads a rectangle given in bottom-up GL rows of `framebuffer`.
    PixelImage read(GLuint framebuffer, int x, int y, int width, int height);

    QOpenGLContext context;
    QOffscreenSurface surface;
    QOpenGLFunctions_3_3_Core* gl = nullptr;
};

}  // namespace vellumora::testing
