// Repaints from ink checkpoints on real OpenGL (llvmpipe): whatever is taken out or put back,
// the ink read back is the ink a whole replay of the record paints.

#include "canvas/gl_test.h"
#include "canvasview/ink_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <random>

namespace vellumora {
namespace {

constexpr std::size_t kStrokes = 40;

// Strokes of every tool, the eraser among them, wandering over the middle of the canvas.
std::vector<Stroke> strokes() {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Stroke> out;
    for (std::size_t s = 0; s < kStrokes; ++s) {
        Stroke stroke{"S" + std::to_string(s), "u", Tool(s % 6), {unit(random), unit(random), 0.5, 1},
                      4.0 + 4 * unit(random), {}, true};
        double x = 0.3 + 0.4 * unit(random), y = 0.3 + 0.4 * unit(random);
        for (int p = 0; p < 24; ++p) {
            stroke.points.push_back({x, y, 1, 0});
            x += 0.01 * (unit(random) - 0.3);
            y += 0.01 * (unit(random) - 0.3);
        }
        out.push_back(std::move(stroke));
    }
    return out;
}

class InkCheckpointTest : public testing::RendererGlTest {
  protected:
    // In slices, as a backlog goes, which end inside strokes.
    void apply(InkJournal& journal) {
        while (journal.applyTo(*renderer, 150, std::chrono::steady_clock::time_point::max()) !=
               InkJournal::Stop::caughtUp)
            renderer->paintInk();
        renderer->paintInk();
    }
    // Two strokes drawn at once, their points interleaved, so checkpoints fall inside open strokes.
    void draw(InkJournal& journal, const std::vector<Stroke>& all) {
        for (std::size_t s = 0; s + 1 < all.size(); s += 2) {
            const Stroke& a = all[s];
            const Stroke& b = all[s + 1];
            journal.addStrokes({Stroke{a.id, a.userId, a.tool, a.color, a.brushSize, {a.points[0]}, false},
                                Stroke{b.id, b.userId, b.tool, b.color, b.brushSize, {b.points[0]}, false}});
            for (std::size_t p = 1; p < a.points.size(); ++p) {
                journal.appendPoint(a.id, {a.points[p].x, a.points[p].y});
                journal.appendPoint(b.id, {b.points[p].x, b.points[p].y});
            }
            journal.endStroke(a.id);
            journal.endStroke(b.id);
            apply(journal);
        }
    }
};

TEST_F(InkCheckpointTest, aRepaintFromTheNearestCheckpointPaintsWhatAWholeReplayPaints) {
    const std::vector<Stroke> all = strokes();
    const auto id = [&](std::size_t fromEnd) { return all[kStrokes - 1 - fromEnd].id; };
    const struct Row {
        const char* name;
        std::size_t maxOps;
        // Changes the record; the stroke ids that end up taken out.
        std::function<std::optional<std::size_t>(InkJournal&)> change;
        std::vector<std::string> undone;
    } rows[] = {
        {"undo of the latest stroke", InkJournal::kDefaultMaxOps,
         [&](InkJournal& j) { return j.setUndone(id(0), true); }, {id(0)}},
        {"undo of a stroke before the newest checkpoints", InkJournal::kDefaultMaxOps,
         [&](InkJournal& j) { return j.setUndone(id(9), true); }, {id(9)}},
        {"redo in place", InkJournal::kDefaultMaxOps,
         [&](InkJournal& j) {
             const auto from = j.setUndone(id(6), true);
             j.rewindTo(*renderer, *from);
             apply(j);
             return j.setUndone(id(6), false);
         },
         {}},
        {"undo after the oldest operations were forgotten", 400,
         [&](InkJournal& j) { return j.setUndone(id(4), true); }, {id(4)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        InkJournal journal(row.maxOps, 400, 4);
        renderer->resetCanvas();
        draw(journal, all);
        const std::vector<std::size_t> at = journal.checkpointPositions();
        ASSERT_EQ(at.size(), 4u);
        EXPECT_LT(at[3] - at[2], at[1] - at[0]) << "dense where recent, sparser further back";

        const std::optional<std::size_t> from = row.change(journal);
        ASSERT_TRUE(from);
        journal.rewindTo(*renderer, *from);
        EXPECT_GT(journal.appliedCount(), 0u) << "from a checkpoint";
        apply(journal);
        const std::vector<testing::Rgba8> repainted = ink(0, 0, 2048).rows;

        InkJournal whole(InkJournal::kDefaultMaxOps, 0, 0);
        draw(whole, all);
        for (const std::string& undone : row.undone) whole.setUndone(undone, true);
        whole.rewindTo(*renderer, 0);
        apply(whole);
        const std::vector<testing::Rgba8> expected = ink(0, 0, 2048).rows;
        int most = 0, inked = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const testing::Rgba8 a = repainted[i], b = expected[i];
            most = std::max({most, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b),
                             std::abs(a.a - b.a)});
            inked += b.a > 200;
        }
        EXPECT_LE(most, 1);
        EXPECT_GT(inked, 10'000) << "ink to compare";
    }
}

}  // namespace
}  // namespace vellumora
