#include "websocket_bits.h"

#include <array>
#include <cstring>
#include <random>

namespace vellumora::bench {

namespace {
std::mt19937_64& randomBits() {
    static std::mt19937_64 bits{std::random_device{}()};
    return bits;
}
}  // namespace

std::string websocketKey() {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<unsigned char, 18> raw{};  // 16 random bytes, zero-padded to a multiple of 3
    for (std::size_t i = 0; i < 16; i += 8) {
        const std::uint64_t word = randomBits()();
        std::memcpy(raw.data() + i, &word, 8);
    }
    std::string key;
    for (std::size_t i = 0; i < raw.size(); i += 3) {
        const unsigned group = (unsigned{raw[i]} << 16) | (unsigned{raw[i + 1]} << 8) | raw[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) key += digits[(group >> shift) & 0x3F];
    }
    key.replace(22, 2, "==");  // 16 bytes make 22 digits and two pads
    return key;
}

std::uint32_t randomMaskKey() {
    return static_cast<std::uint32_t>(randomBits()());
}

}  // namespace vellumora::bench
