#pragma once
// OpenGL objects that delete themselves. A name belongs to the context that made it: it is
// deleted while that context is current (make it current first, as a widget's
// aboutToBeDestroyed handler does); otherwise it went, or goes, with its context and is only
// forgotten.

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QPointer>

#include <utility>

namespace vellumora {

enum class GlKind { texture, framebuffer, buffer, vertexArray, shader, program };

template <GlKind K>
class GlName {
  public:
    GlName() = default;
    // Takes `name`, made in the current context.
    GlName(QOpenGLFunctions_3_3_Core& gl, GLuint name)
        : gl_(&gl), context_(QOpenGLContext::currentContext()), name_(name) {}
    ~GlName() { reset(); }
    GlName(GlName&& other) noexcept
        : gl_(other.gl_), context_(std::move(other.context_)), name_(std::exchange(other.name_, 0)) {}
    GlName& operator=(GlName&& other) noexcept {
        if (this != &other) {
            reset();
            gl_ = other.gl_;
            context_ = std::move(other.context_);
            name_ = std::exchange(other.name_, 0);
        }
        return *this;
    }
    GlName(const GlName&) = delete;
    GlName& operator=(const GlName&) = delete;

    // A new object of this kind in the current context (not for shaders and programs, which
    // are made with their type).
    static GlName generate(QOpenGLFunctions_3_3_Core& gl) {
        GLuint name = 0;
        if constexpr (K == GlKind::texture) gl.glGenTextures(1, &name);
        if constexpr (K == GlKind::framebuffer) gl.glGenFramebuffers(1, &name);
        if constexpr (K == GlKind::buffer) gl.glGenBuffers(1, &name);
        if constexpr (K == GlKind::vertexArray) gl.glGenVertexArrays(1, &name);
        return GlName(gl, name);
    }

    GLuint id() const { return name_; }
    explicit operator bool() const { return name_ != 0; }

    void reset() {
        if (name_ != 0 && context_ && QOpenGLContext::currentContext() == context_) {
            if constexpr (K == GlKind::texture) gl_->glDeleteTextures(1, &name_);
            if constexpr (K == GlKind::framebuffer) gl_->glDeleteFramebuffers(1, &name_);
            if constexpr (K == GlKind::buffer) gl_->glDeleteBuffers(1, &name_);
            if constexpr (K == GlKind::vertexArray) gl_->glDeleteVertexArrays(1, &name_);
            if constexpr (K == GlKind::shader) gl_->glDeleteShader(name_);
            if constexpr (K == GlKind::program) gl_->glDeleteProgram(name_);
        }
        name_ = 0;
        context_ = nullptr;
    }

  private:
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    QPointer<QOpenGLContext> context_;
    GLuint name_ = 0;
};

using GlTexture = GlName<GlKind::texture>;
using GlFramebuffer = GlName<GlKind::framebuffer>;
using GlBuffer = GlName<GlKind::buffer>;
using GlVertexArray = GlName<GlKind::vertexArray>;
using GlShader = GlName<GlKind::shader>;
using GlProgram = GlName<GlKind::program>;

// A fence in the GPU's command stream, deleted like the names above.
class GlFence {
  public:
    // A fence after everything submitted so far.
    explicit GlFence(QOpenGLFunctions_3_3_Core& gl)
        : gl_(&gl),
          context_(QOpenGLContext::currentContext()),
          sync_(gl.glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0)) {}
    ~GlFence() { reset(); }
    GlFence(GlFence&& other) noexcept
        : gl_(other.gl_), context_(std::move(other.context_)), sync_(std::exchange(other.sync_, nullptr)) {}
    GlFence& operator=(GlFence&& other) noexcept {
        if (this != &other) {
            reset();
            gl_ = other.gl_;
            context_ = std::move(other.context_);
            sync_ = std::exchange(other.sync_, nullptr);
        }
        return *this;
    }
    GlFence(const GlFence&) = delete;
    GlFence& operator=(const GlFence&) = delete;

    // Whether the GPU has passed it; does not wait.
    bool isSignalled() const { return !sync_ || gl_->glClientWaitSync(sync_, 0, 0) != GL_TIMEOUT_EXPIRED; }

    void reset() {
        if (sync_ && context_ && QOpenGLContext::currentContext() == context_) gl_->glDeleteSync(sync_);
        sync_ = nullptr;
        context_ = nullptr;
    }

  private:
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    QPointer<QOpenGLContext> context_;
    GLsync sync_ = nullptr;
};

}  // namespace vellumora
