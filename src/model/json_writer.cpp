#include "model/json_writer.h"

#include <array>
#include <charconv>
#include <cmath>

namespace vellumora::json {

namespace {
// Bytes that cannot stand for themselves inside a JSON string as we write it.
constexpr std::array<bool, 256> kNeedsEscape = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = true;
    table['"'] = table['\\'] = table['/'] = true;
    return table;
}();
}  // namespace

void Writer::appendEscape(unsigned char c) {
    switch (c) {
        case '"':
            put("\\\"", 2);
            break;
        case '\\':
            put("\\\\", 2);
            break;
        case '/':
            put("\\/", 2);
            break;
        case '\b':
            put("\\b", 2);
            break;
        case '\f':
            put("\\f", 2);
            break;
        case '\n':
            put("\\n", 2);
            break;
        case '\r':
            put("\\r", 2);
            break;
        case '\t':
            put("\\t", 2);
            break;
        default: {
            static constexpr char kHex[] = "0123456789abcdef";
            const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            put(escaped, 6);
        }
    }
}

void Writer::string(std::string_view text) {
    separate();
    appendQuoted(text);
    needComma_ = true;
}

void Writer::appendQuoted(std::string_view text) {
    put('"');
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const char* run = p;
        while (p != end && !kNeedsEscape[static_cast<unsigned char>(*p)]) ++p;
        put(run, static_cast<std::size_t>(p - run));
        if (p == end) break;
        appendEscape(static_cast<unsigned char>(*p++));
    }
    put('"');
}

void Writer::number(double value) {
    separate();
    needComma_ = true;
    if (!std::isfinite(value)) {
        ok_ = false;
        put('0');  // keeps the text well-formed; the caller discards it
        return;
    }
    if (value == 0 && std::signbit(value)) {
        put("-0.0", 4);  // "-0" would read back as the integer 0 and lose its sign
        return;
    }
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (std::fabs(value) >= 9e18 &&
        std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)).find_first_of(".e") ==
            std::string_view::npos) {
        // Integer digits beyond 64 bits are refused by strict readers; say it is a double.
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    }
    put(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

}  // namespace vellumora::json
