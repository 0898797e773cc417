#include "model/json_writer.h"

#include <charconv>
#include <cmath>

namespace vellumora::json {

namespace {
// Bytes that cannot stand for themselves inside a JSON string as we write it.
constexpr bool needsEscape(unsigned char c) {
    return c < 0x20 || c == '"' || c == '\\' || c == '/';
}
}  // namespace

void Writer::string(std::string_view text) {
    separate();
    appendQuoted(text);
    needComma_ = true;
}

void Writer::appendQuoted(std::string_view text) {
    out_.push_back('"');
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!needsEscape(c)) continue;
        out_.append(text.data() + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
            case '"':
                out_.append("\\\"", 2);
                break;
            case '\\':
                out_.append("\\\\", 2);
                break;
            case '/':
                out_.append("\\/", 2);
                break;
            case '\b':
                out_.append("\\b", 2);
                break;
            case '\f':
                out_.append("\\f", 2);
                break;
            case '\n':
                out_.append("\\n", 2);
                break;
            case '\r':
                out_.append("\\r", 2);
                break;
            case '\t':
                out_.append("\\t", 2);
                break;
            default: {
                static constexpr char kHex[] = "0123456789abcdef";
                const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                out_.append(escaped, 6);
            }
        }
    }
    out_.append(text.data() + runStart, text.size() - runStart);
    out_.push_back('"');
}

void Writer::number(double value) {
    separate();
    needComma_ = true;
    if (!std::isfinite(value)) {
        ok_ = false;
        out_.push_back('0');  // keeps the text well-formed; the caller discards it
        return;
    }
    if (value == 0 && std::signbit(value)) {
        out_.append("-0.0", 4);  // "-0" would read back as the integer 0 and lose its sign
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
    out_.append(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

}  // namespace vellumora::json
