#include "canvas/gl_support.h"
#include "canvas/renderer.h"
#include "canvas/shading_oracle.h"
#include "gl_test_support.h"

#include <QBuffer>
#include <QImage>
#include <QOpenGLVersionFunctionsFactory>

#include <cmath>
#include <string>

namespace vellumora {
namespace {

using testing::PixelImage;
using testing::RenderTarget;
using testing::Rgba8;

constexpr float kSeed = 123.25f;

// Distance in 8-bit levels between a read-back channel and the formula's value.
float levels(std::uint8_t actual, float expected) {
    return std::abs(float(actual) - expected * 255.0f);
}

CanvasPoint canvasPixel(float x, float y) {
    return {x / 2048.0, y / 2048.0};
}

class RendererGl : public testing::GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (HasFatalFailure()) return;
        renderer = std::make_unique<Renderer>([] { return kSeed; });
        ASSERT_EQ(renderer->initialize(), QString());
    }
    void TearDown() override {
        renderer.reset();  // with the context still current
        GlTest::TearDown();
    }

    // Renders one frame into a fresh target of the given size and reads all of it back.
    PixelImage frame(int width, int height) {
        RenderTarget target(*gl, width, height);
        renderer->resize(width, height);
        renderer->render(target.framebuffer());
        return read(target.framebuffer(), 0, 0, width, height);
    }

    // The canvas image around a point, in canvas pixels (row 0 is the canvas's top).
    PixelImage canvasRegion(int x, int y, int size) {
        PixelImage image = read(renderer->canvasFramebuffer(), x, y, size, size);
        // Canvas rows already run top-down: undo the bottom-up addressing of PixelImage.
        std::vector<Rgba8> flipped(image.bottomUp.size());
        for (int row = 0; row < size; ++row)
            for (int col = 0; col < size; ++col)
                flipped[std::size_t((size - 1 - row) * size + col)] =
                    image.bottomUp[std::size_t(row * size + col)];
        image.bottomUp = std::move(flipped);
        return image;
    }

    // Compares every pixel of a frame with the composite formula (no ink, no line art) with
    // the own cursor, if any, blended on top.
    void expectFrameMatchesOracle(const PixelImage& image, float maxLevels) {
        const float zoom = renderer->zoom();
        const Vec2f pan = renderer->pan();
        const auto& self = renderer->selfCursor();
        const Vec2f size{float(image.width), float(image.height)};
        float worst = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const Vec2f uv{(float(x) + 0.5f) / size.x, (float(y) + 0.5f) / size.y};
                Color4f want = shading::composite(viewToCanvas(uv, zoom, pan), {}, {});
                if (self) {
                    const Vec2f centre = canvasToDrawable(self->pos, zoom, pan, size);
                    const auto cursor =
                        shading::cursorColor({float(x) + 0.5f - centre.x, float(y) + 0.5f - centre.y}, 14.0f,
                                             2.5f, self->color, self->isDrawing ? 1.0f : 0.0f);
                    if (cursor) {
                        const float a = cursor->a;
                        want = {cursor->r * a + want.r * (1 - a), cursor->g * a + want.g * (1 - a),
                                cursor->b * a + want.b * (1 - a), a + want.a * (1 - a)};
                    }
                }
                const Rgba8 got = image.at(x, y);
                const float error = std::max({levels(got.r, want.r), levels(got.g, want.g),
                                              levels(got.b, want.b), levels(got.a, want.a)});
                worst = std::max(worst, error);
                ASSERT_LE(error, maxLevels) << "pixel " << x << "," << y;
            }
        }
        RecordProperty("worstLevels", std::to_string(worst));
    }

    std::unique_ptr<Renderer> renderer;
};

class StampAlpha : public RendererGl, public ::testing::WithParamInterface<Tool> {};

TEST_P(StampAlpha, matchesTheTipFormula) {
    const Tool tool = GetParam();
    const Vec2f centre{300.3f, 400.7f};
    const float radius = 20.0f;
    const Color4f colour{1.0f, 0.5f, 0.25f, 1.0f};
    renderer->beginStroke("s", canvasPixel(centre.x, centre.y), tool, colour, radius);
    frame(8, 8);

    const int x0 = 268, y0 = 368, size = 66;  // covers the tip's disc of 26 px
    const PixelImage image = canvasRegion(x0, y0, size);
    int covered = 0, outliers = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Vec2f local{(float(x0 + x) + 0.5f - centre.x) / (radius * 1.3f),
                              (float(y0 + y) + 0.5f - centre.y) / (radius * 1.3f)};
            const float alpha = shading::brushAlpha(tool, local, kSeed).value_or(0.0f);
            const Rgba8 got = image.at(x, y);
            if (alpha > 0) ++covered;
            // Colour is stored weighted by alpha: (1, 0.5, 0.25) × A over transparent black.
            const float error = std::max({levels(got.a, alpha), levels(got.r, alpha),
                                          levels(got.g, 0.5f * alpha), levels(got.b, 0.25f * alpha)});
            // A hash lands within a float rounding of a jump in a few pixels; those may differ.
            if (error > 1.5f) ++outliers;
        }
    }
    EXPECT_GT(covered, 500);
    EXPECT_LE(outliers, covered / 200) << outliers << " of " << covered << " pixels differ";
}

INSTANTIATE_TEST_SUITE_P(EveryTool, StampAlpha, ::testing::ValuesIn(toolAllCases),
                         [](const auto& info) { return std::string(rawValue(info.param)); });

TEST_F(RendererGl, compositeShowsPaperAtTheCentre) {
    const PixelImage image = frame(65, 49);
    const shading::Rgb paper = shading::paperColor({0.5f, 0.5f});
    const Rgba8 centre = image.at(32, 24);
    EXPECT_LE(levels(centre.r, paper[0]), 1.0f);
    EXPECT_LE(levels(centre.g, paper[1]), 1.0f);
    EXPECT_LE(levels(centre.b, paper[2]), 1.0f);
    EXPECT_EQ(centre.a, 255);
    expectFrameMatchesOracle(image, 1.0f);
}

TEST_F(RendererGl, compositeLeavesOutsideTheCanvasTransparentWhenZoomedOut) {
    renderer->setZoom(0.5f);
    const PixelImage image = frame(64, 48);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 16; ++x) {
            const Rgba8 p = image.at(x, y);
            ASSERT_TRUE(p.r == 0 && p.g == 0 && p.b == 0 && p.a == 0) << x << "," << y;
        }
    }
    EXPECT_EQ(image.at(32, 24).a, 255);
    expectFrameMatchesOracle(image, 1.0f);

    renderer->setZoom(1.7f);
    renderer->setPan({0.3f, -0.2f});
    expectFrameMatchesOracle(frame(50, 70), 1.0f);
}

// The paper is baked once into a texture; magnified, it must still be the formula's paper.
TEST_F(RendererGl, bakedPaperMatchesTheFormulaAtEveryZoom) {
    for (const auto& [zoom, pan] :
         {std::pair{1.0f, Vec2f{}}, std::pair{6.0f, Vec2f{-0.45f, -0.47f}},
          std::pair{9.0f, Vec2f{0.2f, 0.1f}}, std::pair{0.8f, Vec2f{0.05f, -0.1f}}}) {
        renderer->setZoom(zoom);
        renderer->setPan(pan);
        expectFrameMatchesOracle(frame(97, 61), 1.0f);
    }
}

TEST_F(RendererGl, lineArtIsDrawnOverTheInk) {
    QImage lines(256, 256, QImage::Format_RGBA8888);
    lines.fill(Qt::transparent);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 128; ++x) lines.setPixelColor(x, y, QColor(0, 0, 0, 255));
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(lines.save(&buffer, "PNG"));
    renderer->setLineArt(png);
    EXPECT_TRUE(renderer->hasLineArt());

    renderer->beginStroke("s", {0.5, 0.5}, Tool::sketchpen, {1, 0, 0, 1}, 200.0f);
    const PixelImage image = frame(64, 64);
    const Rgba8 underLines = image.at(28, 32);
    const Rgba8 bareInk = image.at(36, 32);
    EXPECT_LE(std::max({underLines.r, underLines.g, underLines.b}), 1);
    EXPECT_GT(bareInk.r, 200);
    EXPECT_LT(bareInk.g, 90);

    renderer->setLineArt(std::nullopt);
    EXPECT_FALSE(renderer->hasLineArt());
    const Rgba8 uncovered = frame(64, 64).at(28, 32);
    EXPECT_GT(uncovered.r, 200);
}

TEST_F(RendererGl, cursorRingAndHaloMatchTheFormula) {
    for (bool drawing : {false, true}) {
        renderer->setSelfCursor(CursorViz{{0.5f, 0.5f}, {0.1f, 0.3f, 0.9f, 1.0f}, drawing});
        const PixelImage image = frame(101, 81);
        expectFrameMatchesOracle(image, 2.0f);
        // Outwards from the centre: the ring's colour at r = 14, white halo just beyond it.
        const Rgba8 ring = image.at(50 + 14, 40);
        const Rgba8 halo = image.at(50 + 16, 40);
        EXPECT_GT(ring.b, 200);
        EXPECT_LT(ring.r, 60);
        EXPECT_GT(halo.r, 240);
        EXPECT_GT(halo.g, 240);
        EXPECT_GT(halo.b, 240);
    }
}

TEST_F(RendererGl, peerCursorsAreDrawnAtTheirCanvasPoints) {
    renderer->setZoom(2.0f);
    renderer->setPan({0.25f, 0.0f});
    renderer->setPeerCursors({{"peer", CursorViz{{0.75f, 0.5f}, {1, 0, 0, 1}, false}}});
    const PixelImage image = frame(101, 101);
    const Rgba8 ring = image.at(50 + 10, 50);
    EXPECT_GT(ring.r, 200);
    EXPECT_LT(ring.g, 60);
    const Rgba8 far = image.at(50 + 20, 50);
    EXPECT_GT(far.g, 150);  // paper, not ring
}

TEST_F(RendererGl, stampLandsWhereItsCanvasPointIsShown) {
    renderer->beginStroke("s", {0.25, 0.1}, Tool::sketchpen, {1, 0, 0, 1}, 60.0f);
    const PixelImage image = frame(64, 64);
    int bestX = -1, bestY = -1, best = -1;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const Rgba8 p = image.at(x, y);
            const int redness = int(p.r) - int(p.g);
            if (redness > best) {
                best = redness;
                bestX = x;
                bestY = y;
            }
            if (x >= 32 || y >= 32) {
                ASSERT_LT(redness, 100) << "ink outside the top-left quarter at " << x << "," << y;
            }
        }
    }
    EXPECT_GT(best, 150);
    EXPECT_NEAR(bestX, 16, 2);
    EXPECT_NEAR(bestY, 6, 2);
}

TEST_F(RendererGl, resetDropsQueuedStampsAndClearsTheInk) {
    renderer->beginStroke("a", canvasPixel(100, 100), Tool::sketchpen, {1, 0, 0, 1}, 10.0f);
    frame(8, 8);
    EXPECT_GT(canvasRegion(90, 90, 20).at(10, 10).a, 200);

    renderer->beginStroke("b", canvasPixel(300, 100), Tool::sketchpen, {1, 0, 0, 1}, 10.0f);
    renderer->resetCanvas();
    renderer->beginStroke("c", canvasPixel(500, 100), Tool::sketchpen, {1, 0, 0, 1}, 10.0f);
    frame(8, 8);
    EXPECT_EQ(canvasRegion(90, 90, 20).at(10, 10).a, 0);
    EXPECT_EQ(canvasRegion(290, 90, 20).at(10, 10).a, 0);
    EXPECT_GT(canvasRegion(490, 90, 20).at(10, 10).a, 200);
}

TEST_F(RendererGl, stampsOfSeveralToolsPaintInQueueOrder) {
    renderer->beginStroke("red", canvasPixel(200, 200), Tool::sketchpen, {1, 0, 0, 1}, 12.0f);
    renderer->beginStroke("wash", canvasPixel(600, 200), Tool::watercolor, {0, 1, 0, 1}, 12.0f);
    renderer->beginStroke("blue", canvasPixel(200, 200), Tool::sketchpen, {0, 0, 1, 1}, 12.0f);
    frame(8, 8);
    const Rgba8 overlap = canvasRegion(190, 190, 20).at(10, 10);
    EXPECT_GT(overlap.b, 180);
    EXPECT_LT(overlap.r, 40);
    EXPECT_GT(canvasRegion(590, 190, 20).at(10, 10).g, 5);
}

TEST_F(RendererGl, longBacklogPaintsEveryStampInOneFrame) {
    // More stamps than one instance upload holds: the first and last must both land.
    renderer->beginStroke("s", canvasPixel(10, 10), Tool::sketchpen, {0, 0, 0, 1}, 0.75f);
    for (int row = 0; row < 14; ++row) {
        const float y = 10.0f + float(row) * 20.0f;
        renderer->appendPoint("s", canvasPixel(2030, y));
        renderer->appendPoint("s", canvasPixel(10, y + 10.0f));
        renderer->appendPoint("s", canvasPixel(10, y + 20.0f));
    }
    ASSERT_GT(renderer->stamper().pendingStamps().size(), std::size_t{1} << 16);
    const Vec2f last = renderer->stamper().pendingStamps().back().center;
    frame(8, 8);
    EXPECT_TRUE(renderer->stamper().pendingStamps().empty());
    EXPECT_GT(canvasRegion(5, 5, 10).at(5, 5).a, 100);
    EXPECT_GT(canvasRegion(int(last.x) - 5, int(last.y) - 5, 10).at(5, 5).a, 100);
}

TEST_F(RendererGl, hostilePeerInputRendersBoundedWork) {
    renderer->beginStroke("far", {1e30, -1e30}, Tool::pastel, {1, 0, 0, 1}, 30.0f);
    renderer->appendPoint("far", {-1e30, 1e30});
    renderer->beginStroke("wide", {0.5, 0.5}, Tool::sketchpen, {0, 0, 1, 1}, 1e9f);
    renderer->appendPoint("wide", {0.5, 1e300});
    renderer->appendPoint("wide", {std::nan(""), 0.5});
    EXPECT_EQ(renderer->stamper().pendingStamps().size(),
              2 + kMaxStampsPerSegment);  // two starts, one capped segment
    frame(8, 8);
    // The huge brush is painted at the capped radius: ink 256 px from its centre, none at 400.
    EXPECT_GT(canvasRegion(1024 + 250, 1020, 8).at(4, 4).a, 100);
    EXPECT_EQ(canvasRegion(1024 + 400, 1020, 8).at(4, 4).a, 0);
    EXPECT_EQ(canvasRegion(0, 0, 8).at(4, 4).a, 0);
}

// The widget's context is recreated when it moves to another window.
TEST_F(RendererGl, newContextGetsTheLineArtBackAndAClearCanvas) {
    QImage black(8, 8, QImage::Format_RGBA8888);
    black.fill(Qt::black);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(black.save(&buffer, "PNG"));
    renderer->setLineArt(png);
    renderer->beginStroke("s", {0.5, 0.5}, Tool::sketchpen, {1, 0, 0, 1}, 20.0f);
    EXPECT_EQ(frame(9, 9).at(4, 4).r, 0);

    QOpenGLContext second;
    second.setFormat(context->format());
    ASSERT_TRUE(second.create());
    ASSERT_TRUE(second.makeCurrent(surface.get()));
    gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&second);
    ASSERT_EQ(renderer->initialize(), QString());
    EXPECT_EQ(frame(9, 9).at(4, 4).r, 0);
    EXPECT_EQ(canvasRegion(1020, 1020, 8).at(4, 4).a, 0);
    renderer->setLineArt(std::nullopt);
    EXPECT_GT(frame(9, 9).at(4, 4).r, 200);  // paper, the ink did not survive

    renderer->releaseGL();
    ASSERT_TRUE(context->makeCurrent(surface.get()));
    gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context.get());
}

TEST_F(RendererGl, frameClockAdvancesBySixtiethsOfASecond) {
    frame(4, 4);
    frame(4, 4);
    EXPECT_FLOAT_EQ(renderer->time(), 2 * 0.016666668f);
}

TEST_F(RendererGl, initializeWithoutContextReportsIt) {
    context->doneCurrent();
    Renderer unbound;
    EXPECT_EQ(unbound.initialize(), QStringLiteral("Could not create OpenGL context"));
    ASSERT_TRUE(context->makeCurrent(surface.get()));
}

TEST_F(RendererGl, startUpFailuresCarryTheirMessageAndTheDriverLog) {
    constexpr std::string_view vertex = "void main() { gl_Position = vec4(0.0); }\n";
    auto broken = buildProgram(*gl, "test_vertex", vertex, "broken_fragment", {"void main() { not glsl }\n"});
    ASSERT_TRUE(std::holds_alternative<QString>(broken));
    const QString compileError = std::get<QString>(broken);
    EXPECT_TRUE(compileError.startsWith(QStringLiteral("OpenGL shader compile failed: broken_fragment: ")))
        << compileError.toStdString();
    EXPECT_GT(compileError.size(), 60);

    auto unlinked = buildProgram(*gl, "mainless_vertex", "void helper() {}\n", "plain_fragment",
                                 {"out vec4 c;\nvoid main() { c = vec4(1.0); }\n"});
    ASSERT_TRUE(std::holds_alternative<QString>(unlinked));
    EXPECT_TRUE(std::get<QString>(unlinked).startsWith(QStringLiteral("Pipeline build failed: ")))
        << std::get<QString>(unlinked).toStdString();
}

// Line art decoding needs no GL, but shares the application object set up here.
QStringList capturedWarnings;
void captureWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg) capturedWarnings << message;
}

TEST_F(RendererGl, undecodableLineArtLogsOnceAndShowsNothing) {
    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarning);
    renderer->setLineArt(QByteArray("definitely not an image"));
    const bool hadLineArt = renderer->hasLineArt();
    renderer->setLineArt(std::nullopt);
    qInstallMessageHandler(previous);

    EXPECT_FALSE(hadLineArt);
    ASSERT_EQ(capturedWarnings.size(), 1);
    EXPECT_TRUE(capturedWarnings[0].startsWith(QStringLiteral("Failed to decode line art PNG: ")));
    EXPECT_GT(capturedWarnings[0].size(), QStringLiteral("Failed to decode line art PNG: ").size());
    const Rgba8 centre = frame(65, 65).at(32, 32);
    EXPECT_GT(centre.r, 200);  // paper, no line art
}

}  // namespace
}  // namespace vellumora
