// The renderer on a real OpenGL 3.3 core context (Xvfb + Mesa llvmpipe under
// scripts/test-session), its frames read back and compared with the shading formulas.

#include <QImage>
#include <QOpenGLFramebufferObject>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "canvas/gl_support.h"
#include "canvas/gl_test.h"
#include "canvas/renderer.h"
#include "canvas/view_mapping.h"
#include "support/shading_oracle.h"
#include "support/test_images.h"

namespace vellumora {
namespace {

using testing::PixelImage;
using testing::Rgba8;

// Distance in 8-bit levels between a read-back channel and the formula's value.
float levels(std::uint8_t actual, float expected) {
    return std::abs(float(actual) - expected * 255.0f);
}

CanvasPoint canvasPixel(float x, float y) {
    return {x / 2048.0, y / 2048.0};
}

class RendererGl : public testing::RendererGlTest {
  protected:
    // Renders one frame into a fresh colour target of the given size and reads all of it back.
    PixelImage frame(int width, int height) {
        // An RGBA8 target, standing in for a widget's framebuffer.
        QOpenGLFramebufferObject target(width, height, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D,
                                        GL_RGBA8);
        renderer->resize(width, height);
        renderer->render(target.handle());
        return read(target.handle(), 0, 0, width, height);
    }

    // Every pixel of a frame against the composite formula (no ink, no line art) with the own
    // cursor, if any, blended on top.
    void expectFrameMatchesFormula(const PixelImage& image, float maxLevels) {
        const auto& self = renderer->selfCursor();
        const Vec2f size{float(image.width), float(image.height)};
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const Vec2f uv{(float(x) + 0.5f) / size.x, (float(y) + 0.5f) / size.y};
                const ViewMapping mapping{renderer->zoom(), renderer->pan(), size};
                Color4f want = shading::composite(mapping.toCanvas(uv), {}, {});
                const Vec2f at = self ? mapping.toView(self->pos) : Vec2f{};
                const Vec2f c{at.x * size.x, at.y * size.y};
                if (const auto cursor =
                        self ? shading::cursorColor({float(x) + 0.5f - c.x, float(y) + 0.5f - c.y}, 14.0f,
                                                    2.5f, self->color, self->isDrawing ? 1.0f : 0.0f)
                             : std::nullopt) {
                    const float a = cursor->a;
                    want = {cursor->r * a + want.r * (1 - a), cursor->g * a + want.g * (1 - a),
                            cursor->b * a + want.b * (1 - a), a + want.a * (1 - a)};
                }
                const Rgba8 got = image.at(x, y);
                ASSERT_LE(std::max({levels(got.r, want.r), levels(got.g, want.g), levels(got.b, want.b),
                                    levels(got.a, want.a)}),
                          maxLevels)
                    << "pixel " << x << "," << y;
            }
        }
    }
    // Calls `check` with the tip formula's alpha, the ink read back and the pixel's place in
    // the square about a stamp that holds its tip (clipped at the canvas's left edge).
    template <class Check>
    void eachTipPixel(Tool tool, Vec2f centre, float radius, Check check) {
        const int x0 = std::max(0, int(centre.x) - 32), y0 = int(centre.y) - 32;
        const PixelImage image = ink(x0, y0, 66);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const Vec2f local{(float(x0 + x) + 0.5f - centre.x) / (radius * kTipExtent),
                                  (float(y0 + y) + 0.5f - centre.y) / (radius * kTipExtent)};
                check(shading::brushAlpha(tool, local, kSeed).value_or(0.0f), image.at(x, y), x, y);
            }
        }
    }
};

class StampAlpha : public RendererGl, public ::testing::WithParamInterface<Tool> {};

// A stamp centred on the canvas is drawn as a point sprite, one centred off it as a quad.
TEST_P(StampAlpha, matchesTheTipFormula) {
    for (const Vec2f centre : {Vec2f{300.3f, 400.7f}, Vec2f{-3.6f, 1000.2f}}) {
        renderer->resetCanvas();
        renderer->beginStroke("s", canvasPixel(centre.x, centre.y), GetParam(), {1.0f, 0.5f, 0.25f, 1.0f},
                              20.0f);
        frame(8, 8);
        int covered = 0, outliers = 0;
        eachTipPixel(GetParam(), centre, 20.0f, [&](float alpha, Rgba8 got, int, int) {
            covered += alpha > 0;
            // Colour is stored weighted by alpha: (1, 0.5, 0.25) × A over transparent black.
            // A hash lands within a float rounding of a jump in a few pixels; those may differ.
            outliers += std::max({levels(got.a, alpha), levels(got.r, alpha), levels(got.g, 0.5f * alpha),
                                  levels(got.b, 0.25f * alpha)}) > 1.5f;
        });
        EXPECT_GT(covered, 300);
        EXPECT_LE(outliers, covered / 200) << outliers << " of " << covered << " pixels differ";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryBrush, StampAlpha,
                         ::testing::Values(Tool::sketchpen, Tool::pencil, Tool::watercolor, Tool::crayon,
                                           Tool::pastel),
                         [](const auto& info) { return std::string(rawValue(info.param)); });

// The eraser takes the ink's alpha by its tip's and leaves the colour, so the paper shows through.
TEST_F(RendererGl, theEraserTakesInkBackByItsTipAndLeavesTheRest) {
    const Vec2f centre{600.5f, 700.5f};
    renderer->beginStroke("ink", canvasPixel(centre.x, centre.y), Tool::sketchpen, {1.0f, 0.5f, 0.25f, 1.0f},
                          20.0f);
    frame(8, 8);
    const PixelImage before = ink(int(centre.x) - 32, int(centre.y) - 32, 66);
    renderer->beginStroke("rub", canvasPixel(centre.x, centre.y), Tool::eraser, {0.0f, 0.0f, 0.0f, 1.0f},
                          8.0f);
    frame(8, 8);
    int erased = 0, outliers = 0;
    eachTipPixel(Tool::eraser, centre, 8.0f, [&](float taken, Rgba8 is, int x, int y) {
        const Rgba8 was = before.at(x, y);
        erased += taken > 0.99f && is.a == 0;
        outliers += levels(is.a, was.a / 255.0f * (1.0f - taken)) > 1.5f || (taken < 0.99f && is.r != was.r);
    });
    EXPECT_GT(erased, 100);
    EXPECT_EQ(outliers, 0);
}

// The paper is baked once into a texture: magnified or not, it must still be the formula's.
TEST_F(RendererGl, framesShowThePaperAndTheCursorAsTheFormulasSayAtEveryZoom) {
    const struct {
        float zoom;
        Vec2f pan;
        std::optional<CursorViz> cursor;
    } views[] = {
        {1.0f, {}, std::nullopt},
        {0.5f, {}, std::nullopt},
        {6.0f, {-0.45f, -0.47f}, std::nullopt},
        {1.7f, {0.3f, -0.2f}, CursorViz{{0.6f, 0.5f}, {0.1f, 0.3f, 0.9f, 1.0f}, false}},
        {1.0f, {}, CursorViz{{0.5f, 0.5f}, {0.1f, 0.3f, 0.9f, 1.0f}, true}},
    };
    for (const auto& view : views) {
        renderer->setZoom(view.zoom);
        renderer->setPan(view.pan);
        renderer->setSelfCursor(view.cursor);
        expectFrameMatchesFormula(frame(97, 61), view.cursor ? 2.0f : 1.0f);
    }
}

TEST_F(RendererGl, inkLandsWhereShownInQueueOrderUnderTheLineArtUntilReset) {
    QImage lines(256, 256, QImage::Format_RGBA8888);
    lines.fill(Qt::transparent);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 128; ++x) lines.setPixelColor(x, y, Qt::black);
    renderer->setLineArt(decodeLineArt(testing::encodeImage(lines, "png"), "image/png"));
    renderer->beginStroke("red", {0.5, 0.5}, Tool::sketchpen, {1, 0, 0, 1}, 200.0f);
    renderer->beginStroke("wash", canvasPixel(600, 200), Tool::watercolor, {0, 1, 0, 1}, 12.0f);
    renderer->beginStroke("blue", canvasPixel(200, 200), Tool::sketchpen, {0, 0, 1, 1}, 12.0f);
    renderer->beginStroke("over", canvasPixel(200, 200), Tool::sketchpen, {1, 0, 0, 1}, 12.0f);
    const PixelImage image = frame(64, 64);
    EXPECT_LE(std::max({image.at(28, 32).r, image.at(28, 32).g, image.at(28, 32).b}), 1) << "lines over ink";
    EXPECT_GT(image.at(36, 32).r, 200);
    EXPECT_LT(image.at(36, 32).g, 90);
    EXPECT_GT(ink(190, 190, 20).at(10, 10).r, 180) << "the later stamp on top";
    EXPECT_GT(ink(590, 190, 20).at(10, 10).g, 5);

    renderer->beginStroke("queued", canvasPixel(300, 100), Tool::sketchpen, {1, 0, 0, 1}, 10.0f);
    renderer->resetCanvas();
    renderer->setLineArt(QImage());
    renderer->beginStroke("after", canvasPixel(500, 100), Tool::sketchpen, {1, 0, 0, 1}, 10.0f);
    EXPECT_GT(frame(64, 64).at(28, 32).g, 200) << "paper again";
    EXPECT_EQ(ink(190, 190, 20).at(10, 10).a, 0);
    EXPECT_EQ(ink(290, 90, 20).at(10, 10).a, 0);
    EXPECT_GT(ink(490, 90, 20).at(10, 10).a, 200);
}

TEST_F(RendererGl, aLongBacklogPaintsInOneFrameAndHostileInputOnlyBoundedWork) {
    // More stamps than one instance upload holds: the first and last must both land.
    renderer->beginStroke("s", canvasPixel(10, 10), Tool::sketchpen, {0, 0, 0, 1}, 0.75f);
    for (int row = 0; row < 14; ++row) {
        renderer->appendPoint("s", canvasPixel(2030, 10.0f + float(row) * 20.0f));
        renderer->appendPoint("s", canvasPixel(10, 20.0f + float(row) * 20.0f));
        renderer->appendPoint("s", canvasPixel(10, 30.0f + float(row) * 20.0f));
    }
    ASSERT_GT(renderer->stamper().pendingStamps().size(), std::size_t{1} << 16);
    const Vec2f last = renderer->stamper().pendingStamps().back().center;
    frame(8, 8);
    EXPECT_GT(ink(5, 5, 10).at(5, 5).a, 100);
    EXPECT_GT(ink(int(last.x) - 5, int(last.y) - 5, 10).at(5, 5).a, 100);

    renderer->resetCanvas();
    renderer->beginStroke("far", {1e30, -1e30}, Tool::pastel, {1, 0, 0, 1}, 30.0f);
    renderer->appendPoint("far", {-1e30, 1e30});
    renderer->beginStroke("wide", {0.5, 0.5}, Tool::sketchpen, {0, 0, 1, 1}, 1e9f);
    frame(8, 8);
    // The huge brush is painted at the capped radius: ink 256 px from its centre, none at 400.
    EXPECT_GT(ink(1024 + 250, 1020, 8).at(4, 4).a, 100);
    EXPECT_EQ(ink(1024 + 400, 1020, 8).at(4, 4).a, 0);
}

TEST_F(RendererGl, failuresCarryTheirMessageAndTheDriverLog) {
    const auto broken = buildProgram(*gl, "test_vertex", "void main() { gl_Position = vec4(0.0); }\n",
                                     "broken_fragment", {"void main() { not glsl }\n"});
    ASSERT_TRUE(std::holds_alternative<QString>(broken));
    EXPECT_TRUE(std::get<QString>(broken).startsWith("OpenGL shader compile failed: broken_fragment: "));
    EXPECT_GT(std::get<QString>(broken).size(), 60) << "with the driver's log";
    const auto unlinked = buildProgram(*gl, "mainless_vertex", "void helper() {}\n", "plain_fragment",
                                       {"out vec4 c;\nvoid main() { c = vec4(1.0); }\n"});
    ASSERT_TRUE(std::holds_alternative<QString>(unlinked));
    EXPECT_TRUE(std::get<QString>(unlinked).startsWith("Pipeline build failed: "));
    const std::string_view part = "// a part\n";
    const auto tooMany = buildProgram(*gl, "test_vertex", "void main() { gl_Position = vec4(0.0); }\n",
                                      "long_fragment", {part, part, part, part, part, part, part, part});
    ASSERT_TRUE(std::holds_alternative<QString>(tooMany)) << "a part past the seventh is not dropped";
    EXPECT_TRUE(std::get<QString>(tooMany).startsWith("OpenGL shader compile failed: long_fragment: "));
    // A page is decoded as the type it declares, PNG or JPEG, by that decoder alone.
    QImage dot(16, 16, QImage::Format_RGBA8888);
    dot.fill(Qt::black);
    EXPECT_FALSE(decodeLineArt(testing::encodeImage(dot, "png"), "image/png").isNull());
    EXPECT_FALSE(decodeLineArt(testing::encodeImage(dot, "jpeg"), "image/jpeg").isNull());
    EXPECT_TRUE(decodeLineArt(testing::encodeImage(dot, "png"), "image/jpeg").isNull());
    EXPECT_TRUE(decodeLineArt(testing::encodeImage(dot, "bmp"), "image/png").isNull());
    EXPECT_TRUE(decodeLineArt(testing::encodeImage(dot, "bmp"), "image/bmp").isNull());
    EXPECT_TRUE(decodeLineArt("definitely not an image", "image/png").isNull());

    context.doneCurrent();
    EXPECT_EQ(Renderer().initialize(), "Could not create OpenGL context");
    ASSERT_TRUE(context.makeCurrent(&surface));
}

}  // namespace
}  // namespace vellumora
