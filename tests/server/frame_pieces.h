#pragma once
// Feeds bytes to a frame reader in pieces, the way a socket might deliver them, up to the
// first error. Aborts when the reader breaks its contract: a step consumes more than it was
// given or asks for bytes it already has, a message passes the limit, a failed reader recovers.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "websocket/ws_frame.h"

namespace vellumora::server::ws {

struct Seen {
    FrameEvent::Kind kind;
    std::string payload;
    std::uint16_t code;
    bool operator==(const Seen&) const = default;
};

inline std::vector<Seen> readInPieces(std::size_t limit, const std::string& bytes,
                                      std::size_t piece = SIZE_MAX) {
    FrameReader reader(limit);
    std::vector<Seen> seen;
    std::string buffer;
    for (std::size_t fed = 0; fed < bytes.size();) {
        const std::size_t take = std::min(piece, bytes.size() - fed);
        buffer.append(bytes, fed, take);
        fed += take;
        while (true) {
            const std::size_t before = buffer.size();
            const auto step = reader.next(std::span<char>(buffer.data(), buffer.size()));
            if (step.consumed > before) std::abort();
            const FrameEvent& e = step.event;
            if (e.kind != FrameEvent::Kind::none) {
                if (e.payload.size() > limit || reader.heldBytes() > 2 * limit + 64) std::abort();
                seen.push_back({e.kind, std::string(e.payload), e.code});
                if (e.kind == FrameEvent::Kind::error) {
                    // Even a well-formed frame (an empty text message) fails now.
                    std::string more("\x81\x80\0\0\0\0", 6);
                    if (reader.next(std::span<char>(more.data(), more.size())).event.kind !=
                        FrameEvent::Kind::error)
                        std::abort();
                    return seen;
                }
            } else if (step.consumed == 0) {
                if (step.needed <= buffer.size()) std::abort();  // asked for what it already had
                break;
            }
            buffer.erase(0, step.consumed);
        }
    }
    return seen;
}

}  // namespace vellumora::server::ws
