// Feeds arbitrary bytes through the path every room message takes: decode, sanity rules,
// -0.0 folding, history rules and the relay encoding. Lines of the input are messages from
// two users in turn. Accepted messages always re-encode, a relay copied from the bytes reads
// back as the encoded one, a stroke_point read without the parser is the decoder's, and the
// history's byte count is exactly what its strokes and page add to an encoded room_state. A twin
// history whose senders keep their open strokes decides every message the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rooms/message_rules.h"
#include "rooms/relay_text.h"
#include "rooms/room_history.h"

using namespace vellumora;
using namespace vellumora::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A small budget so eviction and refusal paths are reached with small inputs.
    RoomHistory history(StoredRoom{}, kRoomStateReserve + 4096);
    RoomHistory kept(StoredRoom{}, kRoomStateReserve + 4096);
    RoomHistory::OpenStroke open[2];
    std::vector<RoomHistory::Change> changes;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string users[2] = {"user-a", "user-b"};
    int turn = 0;
    ClientMessage plain;  // read over, as the room does
    while (!input.empty()) {
        const auto end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
        const int sender = turn++ % 2;
        const std::string& user = users[sender];

        std::optional<ClientMessage> message = decodeClientMessage(line);
        // The parser-free read of a stroke_point takes only what the decoder reads, as it reads it.
        if (readPlainStrokePoint(line, plain) && (!message || encode(plain) != encode(*message))) std::abort();
        if (!message || !saneMessage(*message)) continue;
        foldNegativeZero(*message);
        const bool accepted = history.apply(*message, user, changes);
        if (kept.apply(*message, user, changes, open[sender]) != accepted) std::abort();
        if (!accepted) continue;
        std::string relayed;
        if (!encodeInto(relayedFrom(*message, user), relayed)) std::abort();  // sane numbers always encode
        std::string copied;
        if (relayFromBytes(line, *message, "\"" + user + "\"", copied) &&
            decodeServerMessage(copied) != relayedFrom(*message, user))
            std::abort();
        if (history.bytes() > history.budget() || history.bytesAtMost() < history.bytes()) std::abort();
    }
    const auto empty = encode(ServerMessage{RoomStateMessage{{}, {}, {"user-a"}, std::nullopt}});
    const auto full =
        encode(ServerMessage{RoomStateMessage{history.strokes(), {}, {"user-a"}, history.page()}});
    if (!empty || !full || full->size() != empty->size() + history.bytes()) std::abort();
    return 0;
}
