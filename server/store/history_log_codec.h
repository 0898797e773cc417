#pragma once
// A compact, exact binary form of a batch of HistoryOps, for the store's append-only log.
// Doubles are kept bit for bit.

#include <string>
#include <string_view>
#include <vector>

#include "store/store.h"

namespace vellumora::server {

std::string encodeHistoryOps(const std::vector<HistoryOp>& ops);
// The same into `out`, replacing what it held and keeping its storage.
void encodeHistoryOpsInto(const std::vector<HistoryOp>& ops, std::string& out);
// Throws StoreError on bytes that are not such a batch.
std::vector<HistoryOp> decodeHistoryOps(std::string_view bytes);

}  // namespace vellumora::server
