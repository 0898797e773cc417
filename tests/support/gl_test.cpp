#include "support/gl_test.h"

#include <QOpenGLVersionFunctionsFactory>

#include "canvas/gl_drivers.h"

namespace vellumora::testing {

RenderTarget::RenderTarget(QOpenGLFunctions_3_3_Core& gl, int width, int height) : m_gl(gl) {
    gl.glGenTextures(1, &m_texture);
    gl.glBindTexture(GL_TEXTURE_2D, m_texture);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &m_framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
    EXPECT_EQ(gl.glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

RenderTarget::~RenderTarget() {
    m_gl.glDeleteFramebuffers(1, &m_framebuffer);
    m_gl.glDeleteTextures(1, &m_texture);
}

void GlTest::SetUp() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    context.setFormat(format);
    ASSERT_TRUE(context.create()) << "no OpenGL context: run under scripts/test-session";
    surface.setFormat(context.format());
    surface.create();
    ASSERT_TRUE(context.makeCurrent(&surface));
    keepGlDriversLoaded();
    gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&context);
    ASSERT_NE(gl, nullptr) << "OpenGL 3.3 core is not available";
}

void GlTest::TearDown() { context.doneCurrent(); }

PixelImage GlTest::read(GLuint framebuffer, int x, int y, int width, int height) {
    PixelImage image{width, height, std::vector<Rgba8>(std::size_t(width * height))};
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.rows.data());
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return image;
}

}  // namespace vellumora::testing
