#pragma once
// What a well-formed client message looks like beyond its JSON shape: ids of sane length,
// numbers in the ranges a drawing client produces. Anything outside is dropped, so no peer
// is ever handed, say, a coordinate of 1e300 that would have it interpolate forever.

#include "model/protocol.h"

namespace vellumora::server {

inline constexpr std::size_t kMaxIdBytes = 64;
inline constexpr std::size_t kMaxPageTextBytes = 256;

bool saneMessage(const ClientMessage& message);
// Writes every -0.0 as 0: the codec writes -0.0 as "-0.0" but storage keeps only 0, and what
// is relayed, held and stored must be the same bytes.
void foldNegativeZero(ClientMessage& message);
bool saneStrokeId(std::string_view id);
bool sanePoint(const StrokePoint& point);

}  // namespace vellumora::server
