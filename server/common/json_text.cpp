#include "common/json_text.h"

#include <simdjson.h>

namespace vellumora::server {

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '/':
                out.append("\\/");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                if (c < 0x20) {
                    out.append("\\u00");
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0xF]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

std::string jsonString(std::string_view text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

std::optional<std::string> stringMember(std::string_view body, std::string_view key) {
    thread_local simdjson::dom::parser parser;
    const simdjson::padded_string padded(body);
    simdjson::dom::element root;
    if (parser.parse(padded).get(root) != simdjson::SUCCESS) return std::nullopt;
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
    std::string_view value;
    if (object[key].get_string().get(value) != simdjson::SUCCESS) return std::nullopt;
    return std::string(value);
}

std::string errorBody(std::string_view message) {
    return "{\"error\":" + jsonString(message) + "}";
}

}  // namespace vellumora::server
