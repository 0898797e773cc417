#include "canvas/shading_oracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace vellumora {
namespace {

using namespace shading;

TEST(ShadingOracle, smoothStepAcceptsReversedEdges) {
    EXPECT_EQ(smoothStep(1.0f, 0.78f, 0.5f), 1.0f);
    EXPECT_EQ(smoothStep(1.0f, 0.78f, 0.78f), 1.0f);
    EXPECT_EQ(smoothStep(1.0f, 0.78f, 1.0f), 0.0f);
    EXPECT_NEAR(smoothStep(1.0f, 0.78f, 0.89f), 0.5f, 1e-5f);
    EXPECT_EQ(smoothStep(0.0f, 1.0f, -3.0f), 0.0f);
    EXPECT_NEAR(smoothStep(0.0f, 1.0f, 0.25f), 0.15625f, 1e-7f);
}

TEST(ShadingOracle, hashesAreInUnitRangeAndDifferOnlyBySeed) {
    for (float x = -40.0f; x < 40.0f; x += 0.37f) {
        const Vec2f p{x, x * 0.61f - 3.0f};
        EXPECT_EQ(brushHash(p, 0.0f), hash12(p));
        const float h = brushHash(p, 123.4f);
        ASSERT_GE(h, 0.0f);
        ASSERT_LT(h, 1.0f);
    }
    EXPECT_NE(brushHash({1.5f, 2.5f}, 1.0f), brushHash({1.5f, 2.5f}, 2.0f));
}

TEST(ShadingOracle, valueNoiseMeetsTheLatticeHashes) {
    EXPECT_EQ(valueNoise({3.0f, 5.0f}), hash12({3.0f, 5.0f}));
    const float between = valueNoise({3.5f, 5.0f});
    EXPECT_NEAR(between, (hash12({3.0f, 5.0f}) + hash12({4.0f, 5.0f})) / 2, 1e-6f);
}

TEST(ShadingOracle, tipsStayInsideTheirDisc) {
    for (Tool tool : toolAllCases) {
        EXPECT_FALSE(brushAlpha(tool, {0.8f, 0.61f}, 3.0f)) << rawValue(tool);
        EXPECT_TRUE(brushAlpha(tool, {0.0f, 1.0f}, 3.0f)) << rawValue(tool);
        for (float x = -1.0f; x <= 1.0f; x += 0.05f) {
            const auto a = brushAlpha(tool, {x, 0.3f}, 17.0f);
            if (a) {
                ASSERT_TRUE(*a >= 0.0f && *a <= 1.0f) << rawValue(tool);
            }
        }
    }
}

TEST(ShadingOracle, sketchPenCentreIsNearlyOpaqueWithJitter) {
    float lowest = 1, highest = 0;
    for (float seed = 0; seed < 1000; seed += 7.3f) {
        const float a = *brushAlpha(Tool::sketchpen, {0, 0}, seed);
        ASSERT_GE(a, 0.92f * 0.92f);
        ASSERT_LT(a, 0.92f);
        lowest = std::min(lowest, a);
        highest = std::max(highest, a);
    }
    EXPECT_GT(highest - lowest, 0.05f);
}

TEST(ShadingOracle, crayonMissesWholeBlocks) {
    // Inside one 1/6-wide block the miss hash is constant: either the whole block is bare or
    // no pixel of it is (the body is nonzero everywhere inside d < 0.85).
    int bareBlocks = 0;
    for (int bx = -2; bx < 2; ++bx) {
        for (int by = -2; by < 2; ++by) {
            const float miss = brushHash({float(bx), float(by)}, 42.0f + 11.3f);
            for (float fx = 0.05f; fx < 1.0f; fx += 0.3f) {
                for (float fy = 0.05f; fy < 1.0f; fy += 0.3f) {
                    const Vec2f local{(float(bx) + fx) / 6.0f, (float(by) + fy) / 6.0f};
                    const float a = *brushAlpha(Tool::crayon, local, 42.0f);
                    if (miss < 0.35f)
                        ASSERT_EQ(a, 0.0f);
                    else
                        ASSERT_GT(a, 0.0f);
                }
            }
            bareBlocks += miss < 0.35f;
        }
    }
    EXPECT_GT(bareBlocks, 0);
    EXPECT_LT(bareBlocks, 16);
}

TEST(ShadingOracle, compositeLayersLinesOverInkOverPaper) {
    const Rgb paper = paperColor({0.5f, 0.5f});
    for (float channel : paper) EXPECT_TRUE(channel > 0.8f && channel < 1.0f);
    const Color4f plain = composite({0.5f, 0.5f}, {}, {});
    EXPECT_EQ(plain, (Color4f{paper[0], paper[1], paper[2], 1.0f}));
    const Color4f inked = composite({0.5f, 0.5f}, {0.2f, 0.4f, 0.6f, 1.0f}, {});
    EXPECT_NEAR(inked.r, 0.2f, 1e-6f);
    EXPECT_NEAR(inked.g, 0.4f, 1e-6f);
    EXPECT_NEAR(inked.b, 0.6f, 1e-6f);
    EXPECT_EQ(composite({0.5f, 0.5f}, {1, 0, 0, 1}, {0, 0, 0, 1}), (Color4f{0, 0, 0, 1}));
    EXPECT_EQ(composite({1.0f, 0.0f}, {}, {}).a, 1.0f);  // the edges are inside
    EXPECT_EQ(composite({1.0001f, 0.5f}, {1, 0, 0, 1}, {0, 0, 0, 1}), (Color4f{}));
    // The binding shadow darkens the left edge.
    EXPECT_LT(paperColor({0.01f, 0.5f})[0], paperColor({0.3f, 0.5f})[0] - 0.1f);
}

TEST(ShadingOracle, openCursorReadsHaloRingHaloOutwards) {
    const Color4f blue{0, 0, 1, 1};
    std::string bands;
    for (float d = 0.0f; d < 20.0f; d += 0.25f) {
        const auto c = cursorColor({d, 0}, 14.0f, 2.5f, blue, 0.0f);
        const char band = !c ? '.' : (c->b == 1.0f && c->r == 0.0f ? 'R' : 'H');
        if (bands.empty() || bands.back() != band) bands += band;
    }
    EXPECT_EQ(bands, ".HRH.");
    const auto filledCentre = cursorColor({0, 0}, 14.0f, 2.5f, blue, 1.0f);
    ASSERT_TRUE(filledCentre);
    EXPECT_NEAR(filledCentre->a, 0.40f, 1e-6f);
}

}  // namespace
}  // namespace vellumora
