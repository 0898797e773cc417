// Feeds arbitrary bytes to the frame reader the way a socket might deliver them: the first
// byte picks the size of the pieces. The same bytes read in one piece must give the same
// events, a step never consumes more than it was given, a message never passes the limit,
// and a failed reader stays failed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "websocket/ws_frame.h"

using namespace vellumora::server::ws;

namespace {

constexpr std::size_t kLimit = 4096;

struct Seen {
    FrameEvent::Kind kind;
    std::string payload;
    std::uint16_t code;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> readInPieces(std::string bytes, std::size_t piece) {
    FrameReader reader(kLimit);
    std::vector<Seen> seen;
    std::string buffer;
    std::size_t fed = 0;
    while (fed < bytes.size()) {
        const std::size_t take = std::min(piece, bytes.size() - fed);
        buffer.append(bytes, fed, take);
        fed += take;
        while (true) {
            const std::size_t before = buffer.size();
            const auto step = reader.next(std::span<char>(buffer.data(), buffer.size()));
            if (step.consumed > before) std::abort();
            const FrameEvent& e = step.event;
            if (e.kind != FrameEvent::Kind::none) {
                if (e.payload.size() > kLimit || reader.heldBytes() > 2 * kLimit + 64) std::abort();
                seen.push_back({e.kind, std::string(e.payload), e.code});
                if (e.kind == FrameEvent::Kind::error) {
                    std::string more = buffer;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (readInPieces(bytes, piece) != readInPieces(bytes, bytes.size() + 1)) std::abort();
    return 0;
}
