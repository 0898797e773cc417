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

QString nameText(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

std::variant<GlShader, QString> compile(QOpenGLFunctions_3_3_Core& gl, GLenum type, std::string_view name,
                                        std::initializer_list<std::string_view> parts) {
    if (parts.size() > kMaxShaderParts) {
        return QStringLiteral("OpenGL shader compile failed: %1: %2 source parts, at most %3")
            .arg(nameText(name))
            .arg(parts.size())
            .arg(kMaxShaderParts);
    }
    std::array<const GLchar*, kMaxShaderParts + 1> texts{kVersion.data()};
    std::array<GLint, kMaxShaderParts + 1> lengths{static_cast<GLint>(kVersion.size())};
    GLsizei count = 1;
    for (std::string_view part : parts) {
        texts[static_cast<std::size_t>(count)] = part.data();
        lengths[static_cast<std::size_t>(count)] = static_cast<GLint>(part.size());
        ++count;
    }
    GlShader shader(gl, gl.glCreateShader(type));
    gl.glShaderSource(shader.id(), count, texts.data(), lengths.data());
    gl.glCompileShader(shader.id());
    GLint ok = GL_FALSE;
    gl.glGetShaderiv(shader.id(), GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        return QStringLiteral("OpenGL shader compile failed: ") + nameText(name) + QStringLiteral(": ") +
               shaderLog(gl, shader.id());
    }
    return shader;
}

}  // namespace

std::variant<GlProgram, QString> buildProgram(QOpenGLFunctions_3_3_Core& gl, std::string_view vertexName,
                                              std::string_view vertexBody, std::string_view fragmentName,
                                              std::initializer_list<std::string_view> fragmentParts) {
    auto vertex = compile(gl, GL_VERTEX_SHADER, vertexName, {vertexBody});
    if (auto* error = std::get_if<QString>(&vertex)) return *error;
    auto fragment = compile(gl, GL_FRAGMENT_SHADER, fragmentName, fragmentParts);
    if (auto* error = std::get_if<QString>(&fragment)) return *error;

    GlProgram program(gl, gl.glCreateProgram());
    gl.glAttachShader(program.id(), std::get<GlShader>(vertex).id());
    gl.glAttachShader(program.id(), std::get<GlShader>(fragment).id());
    gl.glLinkProgram(program.id());
    GLint ok = GL_FALSE;
    gl.glGetProgramiv(program.id(), GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) return QStringLiteral("Pipeline build failed: ") + programLog(gl, program.id());
    return program;
}

QString buildProgram(GlProgram& program, QOpenGLFunctions_3_3_Core& gl, std::string_view vertexName,
                     std::string_view vertexBody, std::string_view fragmentName,
                     std::initializer_list<std::string_view> fragmentParts) {
    auto built = buildProgram(gl, vertexName, vertexBody, fragmentName, fragmentParts);
    if (auto* error = std::get_if<QString>(&built)) return *error;
    program = std::move(std::get<GlProgram>(built));
    return {};
}

void setSamplingParameters(QOpenGLFunctions_3_3_Core& gl) {
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
}

GlTexture makeTexture(QOpenGLFunctions_3_3_Core& gl, GLenum format, GLsizei size, const void* pixels) {
    GlTexture texture = GlTexture::generate(gl);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, texture.id());
    setSamplingParameters(gl);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                    pixels);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

void uploadImage(QOpenGLFunctions_3_3_Core& gl, const QImage& image) {
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(image.bytesPerLine() / 4));
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width(), image.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                    image.constBits());
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
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
