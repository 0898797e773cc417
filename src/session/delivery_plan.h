#pragma once
// What of the journal to send after a room's state arrived, so that nothing is lost and nothing
// reaches the server twice. The state shows which of the user's strokes the server holds, and
// how much of each: those are not sent again. A stroke the server holds only part of (the
// connection dropped while it was drawn) goes on as a new stroke from its last stored point,
// under an id derived from the old one, so a later reconnect recognises that part too. A clear
// or page change before anything the server shows it holds was read by it already (one
// connection delivers in order). The rest is sent in journal order.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/drawing_types.h"
#include "model/protocol.h"
#include "session/pending_work_journal.h"

namespace vellumora {

struct Outgoing {
    std::uint64_t seq = 0;  // its journal entry; 0 for a start that continues a stroke
    // With the stroke ids the user's canvas knows; `wireIds` of the plan maps those that go
    // out under another.
    ClientMessage message;
};

struct DeliveryPlan {
    std::vector<Outgoing> messages;
    std::map<std::string, std::string> wireIds;
};

DeliveryPlan planDelivery(const std::deque<PendingWorkJournal::Entry>& journal,
                          const std::vector<Stroke>& room, const std::optional<WirePage>& roomPage);

// The id under which the rest of stroke `id` goes on once the server holds `points` of it.
std::string continuationId(const std::string& id, std::size_t points);

// The room as the user's canvas shows it once `messages` (of a plan) have been applied to
// `strokes` and `page`.
void applyOwnMessages(const std::vector<Outgoing>& messages, const std::string& userId,
                      std::vector<Stroke>& strokes, std::optional<WirePage>& page);

}  // namespace vellumora
