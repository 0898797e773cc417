#include "canvas/gl_support.h"

#include <algorithm>
#include <array>
#include <string>

namespace vellumora {

namespace {

QString shaderLog(QOpenGLFunctions_3_3_Core& gl, GLuint shader) {
    GLint length = 0;
    gl.glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
    gl.glGetShaderInfoLog(shader, length, nullptr, log.data());
    return QString::fromUtf8(log.c_str()).trimmed();
}

QString programLog(QOpenGLFunctions_3_3_Core& gl, GLuint program) {
    GLint length = 0;
    gl.glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
    gl.glGetProgramInfoLog(program, length, nullptr, log.data());
    return QString::fromUtf8(log.c_str()).trimmed();
}

constexpr std::string_view kVersion = "#version 330 core\n";

std::variant<GLuint, QString> compile(QOpenGLFunctions_3_3_Core& gl, GLenum type, std::string_view name,
                                      std::initializer_list<std::string_view> parts) {
    std::array<const GLchar*, 8> texts{kVersion.data()};
    std::array<GLint, 8> lengths{static_cast<GLint>(kVersion.size())};
    GLsizei count = 1;
    for (std::string_view part : parts) {
        if (count == static_cast<GLsizei>(texts.size())) break;
        texts[static_cast<std::size_t>(count)] = part.data();
        lengths[static_cast<std::size_t>(count)] = static_cast<GLint>(part.size());
        ++count;
    }
    const GLuint shader = gl.glCreateShader(type);
    gl.glShaderSource(shader, count, texts.data(), lengths.data());
    gl.glCompileShader(shader);
    GLint ok = GL_FALSE;
    gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        const QString message = QStringLiteral("OpenGL shader compile failed: ") +
                                QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
                                QStringLiteral(": ") + shaderLog(gl, shader);
        gl.glDeleteShader(shader);
        return message;
    }
    return shader;
}

}  // namespace

std::variant<GLuint, QString> buildProgram(QOpenGLFunctions_3_3_Core& gl, std::string_view vertexName,
                                           std::string_view vertexBody, std::string_view fragmentName,
                                           std::initializer_list<std::string_view> fragmentParts) {
    auto vertex = compile(gl, GL_VERTEX_SHADER, vertexName, {vertexBody});
    if (auto* error = std::get_if<QString>(&vertex)) return *error;
    auto fragment = compile(gl, GL_FRAGMENT_SHADER, fragmentName, fragmentParts);
    if (auto* error = std::get_if<QString>(&fragment)) {
        gl.glDeleteShader(std::get<GLuint>(vertex));
        return *error;
    }

    const GLuint program = gl.glCreateProgram();
    gl.glAttachShader(program, std::get<GLuint>(vertex));
    gl.glAttachShader(program, std::get<GLuint>(fragment));
    gl.glLinkProgram(program);
    gl.glDeleteShader(std::get<GLuint>(vertex));
    gl.glDeleteShader(std::get<GLuint>(fragment));
    GLint ok = GL_FALSE;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        const QString message = QStringLiteral("Pipeline build failed: ") + programLog(gl, program);
        gl.glDeleteProgram(program);
        return message;
    }
    return program;
}

GlStateGuard::GlStateGuard(QOpenGLFunctions_3_3_Core& gl) : gl_(gl) {
    gl.glGetIntegerv(GL_VIEWPORT, viewport_);
    gl.glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFramebuffer_);
    gl.glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer_);
    gl.glGetIntegerv(GL_CURRENT_PROGRAM, &program_);
    gl.glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray_);
    gl.glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer_);
    gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture_);
    for (GLenum unit = 0; unit < 3; ++unit) {
        gl.glActiveTexture(GL_TEXTURE0 + unit);
        gl.glGetIntegerv(GL_TEXTURE_BINDING_2D, &textures_[unit]);
    }
    gl.glGetIntegerv(GL_BLEND_SRC_RGB, &blendSrcRgb_);
    gl.glGetIntegerv(GL_BLEND_DST_RGB, &blendDstRgb_);
    gl.glGetIntegerv(GL_BLEND_SRC_ALPHA, &blendSrcAlpha_);
    gl.glGetIntegerv(GL_BLEND_DST_ALPHA, &blendDstAlpha_);
    gl.glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColor_);
    blend_ = gl.glIsEnabled(GL_BLEND);
    depthTest_ = gl.glIsEnabled(GL_DEPTH_TEST);
    scissorTest_ = gl.glIsEnabled(GL_SCISSOR_TEST);
    cullFace_ = gl.glIsEnabled(GL_CULL_FACE);
    gl.glDisable(GL_DEPTH_TEST);
    gl.glDisable(GL_SCISSOR_TEST);
    gl.glDisable(GL_CULL_FACE);
}

GlStateGuard::~GlStateGuard() {
    const auto setEnabled = [this](GLenum cap, GLboolean on) {
        if (on)
            gl_.glEnable(cap);
        else
            gl_.glDisable(cap);
    };
    setEnabled(GL_BLEND, blend_);
    setEnabled(GL_DEPTH_TEST, depthTest_);
    setEnabled(GL_SCISSOR_TEST, scissorTest_);
    setEnabled(GL_CULL_FACE, cullFace_);
    gl_.glBlendFuncSeparate(static_cast<GLenum>(blendSrcRgb_), static_cast<GLenum>(blendDstRgb_),
                            static_cast<GLenum>(blendSrcAlpha_), static_cast<GLenum>(blendDstAlpha_));
    gl_.glClearColor(clearColor_[0], clearColor_[1], clearColor_[2], clearColor_[3]);
    for (GLenum unit = 0; unit < 3; ++unit) {
        gl_.glActiveTexture(GL_TEXTURE0 + unit);
        gl_.glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textures_[unit]));
    }
    gl_.glActiveTexture(static_cast<GLenum>(activeTexture_));
    gl_.glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(arrayBuffer_));
    gl_.glBindVertexArray(static_cast<GLuint>(vertexArray_));
    gl_.glUseProgram(static_cast<GLuint>(program_));
    gl_.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(drawFramebuffer_));
    gl_.glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer_));
    gl_.glViewport(viewport_[0], viewport_[1], viewport_[2], viewport_[3]);
}

}  // namespace vellumora
