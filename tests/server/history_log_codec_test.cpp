// The log's packed points: every number and bit comes back, and a cut or overlong entry is
// refused rather than read as something else.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "store/history_log_codec.h"

namespace vellumora::server {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(HistoryLogCodec, shouldRoundTripPackedPointsAtEveryNumberWidthAndRefuseCutOnes) {
    const StrokePoint odd{-0.0, std::nextafter(1.0, 0.0), std::numeric_limits<double>::denorm_min(),
                          1733400000.123456789};
    std::vector<HistoryOp> ops{{5, HistoryOp::StartStroke{1, {"S", "u", Tool::pencil, {}, 3}, odd}}};
    for (const std::int64_t n : {std::int64_t{0}, std::int64_t{127}, std::int64_t{128}, std::int64_t{16384}, kMax,
                                 std::int64_t{-1}, kMin})
        ops.push_back({n, HistoryOp::AppendPoint{n ^ 1, n / 3, odd}});
    ops.push_back({5, HistoryOp::EndStroke{1}});
    const std::string bytes = encodeHistoryOps(ops);
    const std::vector<HistoryOp> back = decodeHistoryOps(bytes);
    ASSERT_EQ(back.size(), ops.size());
    for (std::size_t i = 1; i + 1 < ops.size(); ++i) {
        const auto& want = std::get<HistoryOp::AppendPoint>(ops[i].change);
        const auto& got = std::get<HistoryOp::AppendPoint>(back[i].change);
        EXPECT_EQ(back[i].roomKey, ops[i].roomKey);
        EXPECT_EQ(got.seq, want.seq);
        EXPECT_EQ(got.index, want.index);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got.point.x), std::bit_cast<std::uint64_t>(want.point.x));
        EXPECT_EQ(got.point, want.point);
    }
    EXPECT_EQ(std::get<HistoryOp::EndStroke>(back.back().change).seq, 1);

    // Cut anywhere inside the last point, or a number that never ends.
    const std::string lastPoint = encodeHistoryOps({ops[ops.size() - 2]});
    for (std::size_t cut = 1; cut < lastPoint.size(); ++cut)
        EXPECT_THROW(decodeHistoryOps(lastPoint.substr(0, cut)), StoreError) << cut;
    std::string overlong = lastPoint.substr(0, 1) + std::string(10, '\x80') + lastPoint.substr(1);
    EXPECT_THROW(decodeHistoryOps(overlong), StoreError);
}

}  // namespace
}  // namespace vellumora::server
