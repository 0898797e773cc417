#pragma once
// The ink: the 2048 × 2048 canvas image behind a framebuffer, the stamp pass that paints
// queued stamps into it with the brush programs (and the eraser's), copies of it kept to go back
// to, and fences for painting handed to the GPU outside a frame. Lives in one GL context; every
// call needs it current.

#include "canvas/gl_object.h"
#include "canvas/stamp_runs.h"
#include "canvas/stroke_stamper.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QString>

#include <array>
#include <cstddef>
#include <deque>
#include <span>
#include <vector>

namespace vellumora {

class InkLayer {
  public:
    static constexpr GLsizei kPixels = 2048;

    // Builds the brush programs and the image, cleared; the start-up message on failure.
    QString create(QOpenGLFunctions_3_3_Core& gl);

    GLuint texture() const { return texture_.id(); }
    GLuint framebuffer() const { return framebuffer_.id(); }

    // Clears the image to transparent, before any stamp painted later.
    void clear();
    // Paints the stamps in queue order, all in one pass.
    void paint(std::span<const PendingStamp> stamps);
    // Copies the image into copy `slot` (made on first use), on the GPU. A copy whose image
    // cannot be made is not made; restoring it then says so.
    void save(std::size_t slot);
    // Replaces the image with copy `slot`; false, changing nothing, when that copy was never made.
    bool restore(std::size_t slot);
    // Marks everything handed to the GPU so far, for inFlight().
    void fence();
    // Fenced painting the GPU has not finished yet.
    std::size_t inFlight();

  private:
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    std::array<GlProgram, 6> brushPrograms_;  // indexed by Tool
    GlVertexArray vertexArray_;
    GlBuffer instanceBuffer_;
    std::size_t instanceCapacity_ = 0;
    float maxPointSize_ = 0;  // the driver's largest point sprite
    GlTexture texture_;
    GlFramebuffer framebuffer_;
    std::vector<GlTexture> copies_;  // by slot; none where no copy was made
    GlFramebuffer copyFramebuffer_;  // a copy's image, to blit from or to
    std::deque<GlFence> fences_;  // oldest first
    std::vector<StampRun> runs_;
};

// How stamps and cursors are laid over what is already there: colour by source alpha, alpha
// accumulated.
void useStampBlend(QOpenGLFunctions_3_3_Core& gl);
// How the eraser's stamps take ink away: its alpha only, by the stamp's alpha; the colour stays
// (the composite weighs it by that alpha).
void useEraseBlend(QOpenGLFunctions_3_3_Core& gl);

}  // namespace vellumora
