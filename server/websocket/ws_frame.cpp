#include "websocket/ws_frame.h"

#include <simdjson.h>

#include <cstring>

namespace vellumora::server::ws {

namespace {

constexpr std::size_t kMaxControlPayload = 125;

std::uint64_t readBigEndian(const char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

bool sendableCloseCode(std::uint16_t code) {
    if (code >= 3000 && code <= 4999) return true;
    return code >= 1000 && code <= 1014 && code != 1004 && code != 1005 && code != 1006;
}

}  // namespace

bool applyMask(char* data, std::size_t size, const unsigned char* key) {
    // Eight bytes at a time; byte j of `wide` meets byte j of each word whatever the endianness.
    std::uint64_t wide = 0;
    std::memcpy(&wide, key, 4);
    std::memcpy(reinterpret_cast<char*>(&wide) + 4, key, 4);
    std::uint64_t seen = 0;  // every byte left, or'ed together
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        word ^= wide;
        seen |= word;
        std::memcpy(data + i, &word, 8);
    }
    for (; i < size; ++i) {
        data[i] = static_cast<char>(data[i] ^ static_cast<char>(key[i % 4]));
        seen |= static_cast<unsigned char>(data[i]);
    }
    return (seen & 0x8080808080808080) == 0;
}

bool validUtf8(std::string_view text) {
    return simdjson::validate_utf8(text.data(), text.size());
}

FrameReader::Step FrameReader::fail(std::uint16_t code, std::string_view reason) {
    failed_ = true;
    Step step;
    step.event.kind = FrameEvent::Kind::error;
    step.event.code = code;
    step.event.reason = reason;
    return step;
}

FrameReader::Step FrameReader::next(std::span<char> data) {
    if (failed_) return fail(close_code::protocolError, "Connection already failed");
    if (releaseFragments_) {
        releaseFragments_ = false;
        fragments_.clear();
        // One large message must not pin its size to an otherwise idle connection.
        if (fragments_.capacity() > 64 * 1024) fragments_.shrink_to_fit();
    }
    Header h;
    if (std::optional<Step> stop = readHeader(data, h)) return *stop;
    const std::size_t total = h.size + static_cast<std::size_t>(h.length);
    if (data.size() < total) {
        Step step;
        step.needed = total;
        return step;
    }
    char* payload = data.data() + h.size;
    const bool ascii =
        applyMask(payload, static_cast<std::size_t>(h.length), reinterpret_cast<const unsigned char*>(payload - 4));
    const std::string_view body(payload, static_cast<std::size_t>(h.length));
    Step step = h.control() ? controlFrame(h, body) : dataFrame(h, body, ascii);
    if (step.event.kind != FrameEvent::Kind::error) step.consumed = total;
    return step;
}

std::optional<FrameReader::Step> FrameReader::readHeader(std::span<const char> data, Header& h) {
    Step wait;
    if (data.size() < 2) {
        wait.needed = 2;
        return wait;
    }
    const auto b0 = static_cast<unsigned char>(data[0]);
    const auto b1 = static_cast<unsigned char>(data[1]);
    h.fin = (b0 & 0x80) != 0;
    h.opcode = b0 & 0x0F;
    const bool masked = (b1 & 0x80) != 0;
    const unsigned length7 = b1 & 0x7F;
    h.size = 2 + (length7 == 126 ? 2 : length7 == 127 ? 8 : 0) + (masked ? 4 : 0);
    if (data.size() < h.size) {
        wait.needed = h.size;
        return wait;
    }
    if ((b0 & 0x70) != 0) return fail(close_code::protocolError, "Reserved bits set");
    if (!masked) return fail(close_code::protocolError, "Unmasked client frame");
    h.length = length7;
    if (length7 == 126) {
        h.length = readBigEndian(data.data() + 2, 2);
        if (h.length < 126) return fail(close_code::protocolError, "Length not minimally encoded");
    } else if (length7 == 127) {
        h.length = readBigEndian(data.data() + 2, 8);
        if (h.length >> 63) return fail(close_code::protocolError, "Invalid length");
        if (h.length <= 0xFFFF) return fail(close_code::protocolError, "Length not minimally encoded");
    }
    if (h.control()) {
        if (h.opcode != 0x8 && h.opcode != 0x9 && h.opcode != 0xA)
            return fail(close_code::protocolError, "Unknown opcode");
        if (!h.fin) return fail(close_code::protocolError, "Fragmented control frame");
        if (h.length > kMaxControlPayload) return fail(close_code::protocolError, "Control frame too long");
        return std::nullopt;
    }
    if (h.opcode > 0x2) return fail(close_code::protocolError, "Unknown opcode");
    if (h.opcode == 0x0 && !inMessage_) return fail(close_code::protocolError, "Unexpected continuation");
    if (h.opcode != 0x0 && inMessage_) return fail(close_code::protocolError, "Expected a continuation");
    // Refused at the header, before any of the payload has to be held.
    const std::size_t before = inMessage_ ? fragments_.size() : 0;
    if (h.length > maxMessageBytes_ - before) return fail(close_code::tooBig, "Message too big");
    return std::nullopt;
}

FrameReader::Step FrameReader::controlFrame(const Header& h, std::string_view body) {
    Step step;
    FrameEvent& event = step.event;
    const auto opcode = static_cast<Opcode>(h.opcode);
    if (opcode == Opcode::ping || opcode == Opcode::pong) {
        event.kind = opcode == Opcode::ping ? FrameEvent::Kind::ping : FrameEvent::Kind::pong;
        event.payload = body;
        return step;
    }
    if (body.size() == 1) return fail(close_code::protocolError, "Truncated close code");
    event.kind = FrameEvent::Kind::close;
    event.code = close_code::noStatus;
    if (body.size() >= 2) {
        event.code = static_cast<std::uint16_t>(readBigEndian(body.data(), 2));
        if (!sendableCloseCode(event.code)) return fail(close_code::protocolError, "Invalid close code");
        event.reason = body.substr(2);
        if (!validUtf8(event.reason)) return fail(close_code::badPayload, "Invalid UTF-8 in close reason");
    }
    return step;
}

FrameReader::Step FrameReader::dataFrame(const Header& h, std::string_view body, bool ascii) {
    Step step;
    FrameEvent& event = step.event;
    if (!inMessage_ && h.fin) {
        const auto opcode = static_cast<Opcode>(h.opcode);
        // ASCII is UTF-8 as it stands: most messages need no second pass over their bytes.
        if (opcode == Opcode::text && !ascii && !validUtf8(body))
            return fail(close_code::badPayload, "Invalid UTF-8");
        event.kind = FrameEvent::Kind::message;
        event.opcode = opcode;
        event.payload = body;
        return step;
    }
    if (!inMessage_) {
        inMessage_ = true;
        messageOpcode_ = static_cast<Opcode>(h.opcode);
    }
    fragments_.append(body);
    if (!h.fin) return step;
    inMessage_ = false;
    releaseFragments_ = true;
    if (messageOpcode_ == Opcode::text && !validUtf8(fragments_))
        return fail(close_code::badPayload, "Invalid UTF-8");
    event.kind = FrameEvent::Kind::message;
    event.opcode = messageOpcode_;
    event.payload = fragments_;
    return step;
}

std::size_t writeFrameHeader(Opcode opcode, std::size_t length, std::array<unsigned char, 10>& out, bool fin) {
    out[0] = static_cast<unsigned char>((fin ? 0x80 : 0) | static_cast<unsigned>(opcode));
    if (length < 126) {
        out[1] = static_cast<unsigned char>(length);
        return 2;
    }
    if (length <= 0xFFFF) {
        out[1] = 126;
        out[2] = static_cast<unsigned char>(length >> 8);
        out[3] = static_cast<unsigned char>(length);
        return 4;
    }
    out[1] = 127;
    for (int i = 0; i < 8; ++i)
        out[2 + i] = static_cast<unsigned char>(static_cast<std::uint64_t>(length) >> (56 - 8 * i));
    return 10;
}

std::string closePayload(std::uint16_t code, std::string_view reason) {
    std::string out;
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
    out.append(reason.substr(0, kMaxControlPayload - 2));
    return out;
}

}  // namespace vellumora::server::ws
