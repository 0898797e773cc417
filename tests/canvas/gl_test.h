#pragma once
// An OpenGL 3.3 core context on an offscreen surface (Xvfb + Mesa llvmpipe under
// scripts/test-session), with pixel read-back, and a renderer started in it.

#include "canvas/renderer.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
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

// The context, and a renderer in it whose stamp seeds all read kSeed.
class RendererGlTest : public ::testing::Test {
  protected:
    static constexpr float kSeed = 123.25f;

    void SetUp() override {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        context.setFormat(format);
        ASSERT_TRUE(context.create()) << "no OpenGL context: run under scripts/test-session";
        surface.setFormat(context.format());
        surface.create();
        ASSERT_TRUE(context.makeCurrent(&surface));
        gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&context);
        ASSERT_NE(gl, nullptr) << "OpenGL 3.3 core is not available";
        ASSERT_EQ(renderer.emplace([] { return kSeed; }).initialize(), QString());
    }
    void TearDown() override {
        renderer.reset();  // with the context still current
        context.doneCurrent();
    }

    // Reads a rectangle given in bottom-up GL rows of `framebuffer`.
    PixelImage read(GLuint framebuffer, int x, int y, int width, int height) {
        PixelImage image{width, height, std::vector<Rgba8>(std::size_t(width * height))};
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl->glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.rows.data());
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        return image;
    }

    // The ink in a square of canvas pixels, its top-left corner at (x, y).
    PixelImage ink(int x, int y, int size) {
        PixelImage image = read(renderer->canvasFramebuffer(), x, y, size, size);
        image.topDown = true;
        return image;
    }

    QOpenGLContext context;
    QOffscreenSurface surface;
    QOpenGLFunctions_3_3_Core* gl = nullptr;
    std::optional<Renderer> renderer;
};

}  // namespace vellumora::testing
