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

GlStateGuard::GlStateGuard(QOpenGLFunctions_3_3_Core& gl) : m_gl(gl) {
    gl.glGetIntegerv(GL_VIEWPORT, m_viewport);
    gl.glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &m_drawFramebuffer);
    gl.glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &m_readFramebuffer);
    gl.glGetIntegerv(GL_CURRENT_PROGRAM, &m_program);
    gl.glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &m_vertexArray);
    gl.glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &m_arrayBuffer);
    gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &m_activeTexture);
    for (GLenum unit = 0; unit < 3; ++unit) {
        gl.glActiveTexture(GL_TEXTURE0 + unit);
        gl.glGetIntegerv(GL_TEXTURE_BINDING_2D, &m_textures[unit]);
    }
    gl.glGetIntegerv(GL_BLEND_SRC_RGB, &m_blendSrcRgb);
    gl.glGetIntegerv(GL_BLEND_DST_RGB, &m_blendDstRgb);
    gl.glGetIntegerv(GL_BLEND_SRC_ALPHA, &m_blendSrcAlpha);
    gl.glGetIntegerv(GL_BLEND_DST_ALPHA, &m_blendDstAlpha);
    gl.glGetFloatv(GL_COLOR_CLEAR_VALUE, m_clearColor);
    m_blend = gl.glIsEnabled(GL_BLEND);
    m_depthTest = gl.glIsEnabled(GL_DEPTH_TEST);
    m_scissorTest = gl.glIsEnabled(GL_SCISSOR_TEST);
    m_cullFace = gl.glIsEnabled(GL_CULL_FACE);
    gl.glDisable(GL_DEPTH_TEST);
    gl.glDisable(GL_SCISSOR_TEST);
    gl.glDisable(GL_CULL_FACE);
}

GlStateGuard::~GlStateGuard() {
    const auto setEnabled = [this](GLenum cap, GLboolean on) {
        if (on)
            m_gl.glEnable(cap);
        else
            m_gl.glDisable(cap);
    };
    setEnabled(GL_BLEND, m_blend);
    setEnabled(GL_DEPTH_TEST, m_depthTest);
    setEnabled(GL_SCISSOR_TEST, m_scissorTest);
    setEnabled(GL_CULL_FACE, m_cullFace);
    m_gl.glBlendFuncSeparate(static_cast<GLenum>(m_blendSrcRgb), static_cast<GLenum>(m_blendDstRgb),
                             static_cast<GLenum>(m_blendSrcAlpha), static_cast<GLenum>(m_blendDstAlpha));
    m_gl.glClearColor(m_clearColor[0], m_clearColor[1], m_clearColor[2], m_clearColor[3]);
    for (GLenum unit = 0; unit < 3; ++unit) {
        m_gl.glActiveTexture(GL_TEXTURE0 + unit);
        m_gl.glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(m_textures[unit]));
    }
    m_gl.glActiveTexture(static_cast<GLenum>(m_activeTexture));
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(m_arrayBuffer));
    m_gl.glBindVertexArray(static_cast<GLuint>(m_vertexArray));
    m_gl.glUseProgram(static_cast<GLuint>(m_program));
    m_gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(m_drawFramebuffer));
    m_gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(m_readFramebuffer));
    m_gl.glViewport(m_viewport[0], m_viewport[1], m_viewport[2], m_viewport[3]);
}

}  // namespace vellumora
