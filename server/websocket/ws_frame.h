#pragma once
// WebSocket framing as a server sees it: client frames are masked, messages may arrive in
// fragments with control frames between them, and server frames go out unmasked. No I/O
// here, so every rule can be tested on plain bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vellumora::server::ws {

enum class Opcode : std::uint8_t {
    continuation = 0x0,
    text = 0x1,
    binary = 0x2,
    close = 0x8,
    ping = 0x9,
    pong = 0xA,
};

namespace close_code {
inline constexpr std::uint16_t normal = 1000;
inline constexpr std::uint16_t goingAway = 1001;
inline constexpr std::uint16_t protocolError = 1002;
inline constexpr std::uint16_t noStatus = 1005;  // a close frame without a code
inline constexpr std::uint16_t badPayload = 1007;
inline constexpr std::uint16_t policyViolation = 1008;
inline constexpr std::uint16_t tooBig = 1009;
inline constexpr std::uint16_t internalError = 1011;
inline constexpr std::uint16_t tryAgainLater = 1013;
}  // namespace close_code

struct FrameEvent {
    enum class Kind { none, message, ping, pong, close, error };
    Kind kind = Kind::none;
    Opcode opcode = Opcode::text;  // text or binary, for a message
    std::string_view payload;      // valid until the next call to FrameReader::next
    std::uint16_t code = 0;        // close and error
    std::string_view reason;       // close and error
};

class FrameReader {
  public:
    explicit FrameReader(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

    struct Step {
        std::size_t consumed = 0;  // bytes of `data` the caller may discard
        FrameEvent event;
        // When nothing could be consumed: the bytes the current frame needs in all.
        std::size_t needed = 0;
    };
    // Reads at most one frame from the front of `data`, unmasking it in place. After an error
    // event the reader stays failed.
    Step next(std::span<char> data);
    // Whether a fragmented message is being assembled.
    bool inMessage() const { return inMessage_; }
    // Memory held for a fragmented message being assembled.
    std::size_t heldBytes() const {
        const std::size_t capacity = fragments_.capacity();
        return capacity > std::string().capacity() ? capacity : 0;
    }

  private:
    struct Header {
        bool fin = false;
        unsigned opcode = 0;
        std::size_t size = 0;  // of the header, mask included
        std::uint64_t length = 0;
        bool control() const { return (opcode & 0x8) != 0; }
    };
    // Reads and checks the header at the front of `data`; a step to return instead when it is
    // incomplete or breaks the rules.
    std::optional<Step> readHeader(std::span<const char> data, Header& header);
    Step controlFrame(const Header& header, std::string_view body);
    // `ascii`: whether every byte of `body` is.
    Step dataFrame(const Header& header, std::string_view body, bool ascii);
    Step fail(std::uint16_t code, std::string_view reason);

    const std::size_t maxMessageBytes_;
    std::string fragments_;  // the message being assembled from fragments
    bool inMessage_ = false;
    bool releaseFragments_ = false;  // the last event pointed into fragments_
    Opcode messageOpcode_ = Opcode::text;
    bool failed_ = false;
};

// XORs `data` with the 4-byte masking `key` (wire order): masking and unmasking alike. Returns
// whether every byte it leaves is ASCII.
bool applyMask(char* data, std::size_t size, const unsigned char* key);
// The header of an unmasked frame of `length` payload bytes (the last of its message when
// `fin`); returns its size.
std::size_t writeFrameHeader(Opcode opcode, std::size_t length, std::array<unsigned char, 10>& out,
                             bool fin = true);
// A close frame's payload; the reason is cut to fit a control frame.
std::string closePayload(std::uint16_t code, std::string_view reason);
bool validUtf8(std::string_view text);

}  // namespace vellumora::server::ws
