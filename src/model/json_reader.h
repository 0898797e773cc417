#pragma once
// Strict readers of the model's records from a parsed simdjson DOM: every listed member is
// required and of the exact JSON type (an integer is accepted where a double belongs), tools
// must be known, and members not listed are ignored. Internal to the model library.

#include <simdjson.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/drawing_types.h"
#include "model/protocol.h"

namespace vellumora::json {

using Element = simdjson::dom::element;
using Object = simdjson::dom::object;

bool readString(Object object, std::string_view key, std::string& out);
bool readNumber(Object object, std::string_view key, double& out);
bool readBool(Object object, std::string_view key, bool& out);
bool readObject(Object object, std::string_view key, Object& out);

bool read(Element element, Tool& out);
bool read(Element element, StrokePoint& out);
bool read(Element element, WireColor& out);
bool read(Element element, StrokeHeader& out);
bool read(Element element, ArtColor& out);
bool read(Element element, StrokeStartPayload& out);
bool read(Element element, WirePage& out);
bool read(Element element, WirePeer& out);
bool read(Element element, WireStroke& out);

// A member holding one of the records above.
template <typename T>
bool readMember(Object object, std::string_view key, T& out) {
    Element element;
    if (object.at_key(key).get(element) != simdjson::SUCCESS) return false;
    return read(element, out);
}

// A member holding an array of such records; one bad element fails the whole array.
template <typename T>
bool readArray(Object object, std::string_view key, std::vector<T>& out) {
    simdjson::dom::array array;
    if (object.at_key(key).get_array().get(array) != simdjson::SUCCESS) return false;
    out.clear();
    out.reserve(array.size());
    for (const Element element : array) {
        if (!read(element, out.emplace_back())) return false;
    }
    return true;
}

// An optional page member: absent or null is none; anything else must be a valid page.
bool readOptionalPage(Object object, std::string_view key, std::optional<WirePage>& out);
// A page member that must be present (set_page): null is none.
bool readRequiredNullablePage(Object object, std::string_view key, std::optional<WirePage>& out);

// Parses one message with a parser reused per thread; the element lives until the next
// parse on the same thread. None when the bytes are not JSON. With `padded`, the
// kDecodePadding bytes after the text are readable and the text is parsed in place.
std::optional<Element> parseDocument(std::string_view bytes, bool padded = false);

}  // namespace vellumora::json
