#include "common/json_text.h"

#include <simdjson.h>

#include "model/json_writer.h"

namespace vellumora::server {

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
    std::string out;
    json::Writer writer(out);
    writer.beginObject();
    writer.member("error", message);
    writer.endObject();
    return out;
}

}  // namespace vellumora::server
