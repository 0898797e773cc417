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

void applyMask(char* data, std::size_t size, const unsigned char* key) {
    // Eight bytes at a time; byte j of `wide` meets byte j of each word whatever the endianness.
    std::uint64_t wide = 0;
    std::memcpy(&wide, key, 4);
    std::memcpy(reinterpret_cast<char*>(&wide) + 4, key, 4);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        word ^= wide;
        std::memcpy(data + i, &word, 8);
    }
    for (; i < size; ++i) data[i] = static_cast<char>(data[i] ^ static_cast<char>(key[i % 4]));
}

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
