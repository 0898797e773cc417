#pragma once
// A compact, exact binary form of a batch of HistoryOps, for the store's append-only log.
// Doubles are kept bit for bit.

#include <string>
#include <string_view>
#include <vector>

#include "store/store.h"

namespace vellumora::server {

std::string encodeHistoryOps(const std::vector<HistoryOp>& ops);
// The same at the start of `buffer`, which grows when it must and never shrinks; returns the
// bytes written.
std::size_t encodeHistoryOpsInto(const std::vector<HistoryOp>& ops, std::string& buffer);
// Throws StoreError on bytes that are not such a batch.
std::vector<HistoryOp> decodeHistoryOps(std::string_view bytes);

}  // namespace vellumora::server
