#include "canvas/ink_layer.h"

#include "canvas/gl_support.h"
#include "canvas/shader_sources.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vellumora {

namespace {

// Stamps uploaded per instance-buffer fill: bounds the buffer while a long backlog replays.
constexpr std::size_t kMaxInstancesPerUpload = 1u << 16;

// The stamp parameter block, one per instance, as brush_vertex reads it.
struct BrushInstance {
    float center[2];
    float canvasSize[2];
    float color[4];
    float radius;
    float opacity;
    float seed;
    float pad;
};
static_assert(sizeof(BrushInstance) == 48);

struct BrushStage {
    std::string_view name;
    std::string_view source;
};

// Indexed by Tool, in declaration order.
constexpr std::array<BrushStage, 6> kBrushStages{{
    {"brush_sketchpen_fragment", shaders::brush_sketchpen_fragment},
    {"brush_pencil_fragment", shaders::brush_pencil_fragment},
    {"brush_watercolor_fragment", shaders::brush_watercolor_fragment},
    {"brush_crayon_fragment", shaders::brush_crayon_fragment},
    {"brush_pastel_fragment", shaders::brush_pastel_fragment},
    {"brush_eraser_fragment", shaders::brush_eraser_fragment},
}};

}  // namespace

void useStampBlend(QOpenGLFunctions_3_3_Core& gl) {
    gl.glEnable(GL_BLEND);
    gl.glBlendEquation(GL_FUNC_ADD);
    gl.glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

void useEraseBlend(QOpenGLFunctions_3_3_Core& gl) {
    gl.glEnable(GL_BLEND);
    gl.glBlendEquation(GL_FUNC_ADD);
    gl.glBlendFuncSeparate(GL_ZERO, GL_ONE, GL_ZERO, GL_ONE_MINUS_SRC_ALPHA);
}

QString InkLayer::create(QOpenGLFunctions_3_3_Core& gl) {
    gl_ = &gl;
    for (std::size_t tool = 0; tool < kBrushStages.size(); ++tool) {
        if (QString error = buildProgram(brushPrograms_[tool], gl, "brush_vertex", shaders::brush_vertex,
                                         kBrushStages[tool].name,
                                         {shaders::common, shaders::brush_inputs, kBrushStages[tool].source});
            !error.isEmpty())
            return error;
    }

    vertexArray_ = GlVertexArray::generate(gl);
    instanceBuffer_ = GlBuffer::generate(gl);
    gl.glBindVertexArray(vertexArray_.id());
    gl.glBindBuffer(GL_ARRAY_BUFFER, instanceBuffer_.id());
    for (GLuint attribute = 0; attribute < 3; ++attribute) {
        gl.glEnableVertexAttribArray(attribute);
        gl.glVertexAttribDivisor(attribute, 1);
    }
    gl.glBindVertexArray(0);
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    GLfloat pointSizes[2] = {1, 1};
    gl.glGetFloatv(GL_POINT_SIZE_RANGE, pointSizes);
    maxPointSize_ = pointSizes[1];

    while (gl.glGetError() != GL_NO_ERROR) {
    }
    texture_ = makeTexture(gl, GL_RGBA8, kPixels, nullptr);
    framebuffer_ = GlFramebuffer::generate(gl);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_.id());
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_.id(), 0);
    const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete || gl.glGetError() != GL_NO_ERROR) return QStringLiteral("Could not create canvas texture");
    clear();
    return {};
}

void InkLayer::clear() {
    gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_.id());
    gl_->glViewport(0, 0, kPixels, kPixels);
    gl_->glClearColor(0, 0, 0, 0);
    gl_->glClear(GL_COLOR_BUFFER_BIT);
}

void InkLayer::paint(std::span<const PendingStamp> stamps) {
    if (stamps.empty()) return;
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_.id());
    gl.glViewport(0, 0, kPixels, kPixels);
    useStampBlend(gl);
    gl.glEnable(GL_PROGRAM_POINT_SIZE);
    gl.glBindVertexArray(vertexArray_.id());
    gl.glBindBuffer(GL_ARRAY_BUFFER, instanceBuffer_.id());

    for (std::size_t start = 0; start < stamps.size(); start += kMaxInstancesPerUpload) {
        const std::span<const PendingStamp> chunk =
            stamps.subspan(start, std::min(kMaxInstancesPerUpload, stamps.size() - start));
        if (chunk.size() > instanceCapacity_) {
            instanceCapacity_ =
                std::min(std::max(chunk.size(), instanceCapacity_ * 2), kMaxInstancesPerUpload);
        }
        // Fresh storage of the same size every fill, so no draw in flight is waited for.
        gl.glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(instanceCapacity_ * sizeof(BrushInstance)),
                        nullptr, GL_STREAM_DRAW);
        auto* instances = static_cast<BrushInstance*>(gl.glMapBufferRange(
            GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(chunk.size() * sizeof(BrushInstance)),
            GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT));
        if (!instances) continue;
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            const PendingStamp& s = chunk[i];
            instances[i] = {{s.center.x, s.center.y},
                            {kCanvasSize, kCanvasSize},
                            {s.color.r, s.color.g, s.color.b, s.color.a},
                            s.radius,
                            s.opacity,
                            s.seed,
                            0.0f};
        }
        gl.glUnmapBuffer(GL_ARRAY_BUFFER);

        planStampRuns(chunk, maxPointSize_, float(kPixels), runs_);
        bool erasing = false;
        for (const StampRun& run : runs_) {
            if ((run.tool == Tool::eraser) != erasing) {
                erasing = !erasing;
                erasing ? useEraseBlend(gl) : useStampBlend(gl);
            }
            gl.glUseProgram(brushPrograms_[static_cast<std::size_t>(run.tool)].id());
            const auto base = static_cast<std::uintptr_t>(run.first * sizeof(BrushInstance));
            for (GLuint attribute = 0; attribute < 3; ++attribute) {
                gl.glVertexAttribPointer(attribute, 4, GL_FLOAT, GL_FALSE, sizeof(BrushInstance),
                                         reinterpret_cast<const void*>(base + attribute * 4 * sizeof(float)));
            }
            if (run.points)
                gl.glDrawArraysInstanced(GL_POINTS, 6, 1, static_cast<GLsizei>(run.count));
            else
                gl.glDrawArraysInstanced(GL_TRIANGLES, 0, 6, static_cast<GLsizei>(run.count));
        }
        if (erasing) useStampBlend(gl);
    }
}

void InkLayer::save(std::size_t slot) {
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    if (slot >= copies_.size()) copies_.resize(slot + 1);
    if (!copies_[slot]) {
        while (gl.glGetError() != GL_NO_ERROR) {
        }
        GlTexture copy = makeTexture(gl, GL_RGBA8, kPixels, nullptr);
        if (gl.glGetError() != GL_NO_ERROR) return;
        copies_[slot] = std::move(copy);
    }
    if (!copyFramebuffer_) copyFramebuffer_ = GlFramebuffer::generate(gl);
    gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_.id());
    gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, copyFramebuffer_.id());
    gl.glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, copies_[slot].id(), 0);
    gl.glBlitFramebuffer(0, 0, kPixels, kPixels, 0, 0, kPixels, kPixels, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

bool InkLayer::restore(std::size_t slot) {
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    if (slot >= copies_.size() || !copies_[slot]) return false;
    gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, copyFramebuffer_.id());
    gl.glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, copies_[slot].id(), 0);
    gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_.id());
    gl.glBlitFramebuffer(0, 0, kPixels, kPixels, 0, 0, kPixels, kPixels, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    return true;
}

void InkLayer::fence() {
    fences_.emplace_back(*gl_);
    gl_->glFlush();
}

std::size_t InkLayer::inFlight() {
    while (!fences_.empty() && fences_.front().isSignalled()) fences_.pop_front();
    return fences_.size();
}

}  // namespace vellumora
