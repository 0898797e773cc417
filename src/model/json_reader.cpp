#include "model/json_reader.h"

namespace vellumora::json {

namespace {
bool readDoubleElement(Element element, double& out) {
    return element.get_double().get(out) == simdjson::SUCCESS;
}
}  // namespace

bool readString(Object object, std::string_view key, std::string& out) {
    std::string_view view;
    if (object.at_key(key).get_string().get(view) != simdjson::SUCCESS) return false;
    out.assign(view);
    return true;
}

bool readNumber(Object object, std::string_view key, double& out) {
    return object.at_key(key).get_double().get(out) == simdjson::SUCCESS;
}

bool readBool(Object object, std::string_view key, bool& out) {
    return object.at_key(key).get_bool().get(out) == simdjson::SUCCESS;
}

bool readObject(Object object, std::string_view key, Object& out) {
    return object.at_key(key).get_object().get(out) == simdjson::SUCCESS;
}

bool read(Element element, Tool& out) {
    std::string_view text;
    if (element.get_string().get(text) != simdjson::SUCCESS) return false;
    const auto tool = toolFromRawValue(text);
    if (!tool) return false;
    out = *tool;
    return true;
}

bool read(Element element, StrokePoint& out) {
    // Points are most of a room's history, so walk the members once instead of four lookups.
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    unsigned seen = 0;
    for (const auto field : object) {
        const std::string_view key = field.key;
        unsigned bit = 0;
        double* target = nullptr;
        if (key == "x") {
            bit = 1;
            target = &out.x;
        } else if (key == "y") {
            bit = 2;
            target = &out.y;
        } else if (key == "pressure") {
            bit = 4;
            target = &out.pressure;
        } else if (key == "t") {
            bit = 8;
            target = &out.t;
        } else {
            continue;
        }
        if (seen & bit) continue;  // the first occurrence counts, as with a lookup
        if (!readDoubleElement(field.value, *target)) return false;
        seen |= bit;
    }
    return seen == 15;
}

bool read(Element element, WireColor& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    return readNumber(object, "r", out.r) && readNumber(object, "g", out.g) &&
           readNumber(object, "b", out.b) && readNumber(object, "a", out.a);
}

namespace {
// The five members a stroke header, a stroke start and a history stroke share.
template <typename Record>
bool readHeaderMembers(Object object, Record& out) {
    return readString(object, "id", out.id) && readString(object, "userId", out.userId) &&
           readMember(object, "tool", out.tool) && readMember(object, "color", out.color) &&
           readNumber(object, "brushSize", out.brushSize);
}
}  // namespace

bool read(Element element, StrokeHeader& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    return readHeaderMembers(object, out);
}

bool read(Element element, ArtColor& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    return readString(object, "id", out.id) && readString(object, "name", out.name) &&
           readNumber(object, "r", out.r) && readNumber(object, "g", out.g) && readNumber(object, "b", out.b);
}

bool read(Element element, StrokeStartPayload& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    return readHeaderMembers(object, out) && readMember(object, "point", out.point);
}

bool read(Element element, WirePage& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    return readString(object, "pageId", out.pageId) && readString(object, "displayName", out.displayName) &&
           readString(object, "mimeType", out.mimeType) && readString(object, "imageBase64", out.imageBase64);
}

bool read(Element element, WirePeer& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    return readString(object, "userId", out.userId) && readString(object, "name", out.name) &&
           readString(object, "color", out.color);
}

bool read(Element element, WireStroke& out) {
    Object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) return false;
    if (!readHeaderMembers(object, out) || !readBool(object, "complete", out.complete)) return false;
    return readArray(object, "points", out.points);
}

namespace {
bool readPageValue(Element element, std::optional<WirePage>& out) {
    if (element.is_null()) {
        out.reset();
        return true;
    }
    WirePage page;
    if (!read(element, page)) return false;
    out = std::move(page);
    return true;
}
}  // namespace

bool readOptionalPage(Object object, std::string_view key, std::optional<WirePage>& out) {
    Element element;
    const auto error = object.at_key(key).get(element);
    if (error == simdjson::NO_SUCH_FIELD) {
        out.reset();
        return true;
    }
    if (error != simdjson::SUCCESS) return false;
    return readPageValue(element, out);
}

bool readRequiredNullablePage(Object object, std::string_view key, std::optional<WirePage>& out) {
    Element element;
    if (object.at_key(key).get(element) != simdjson::SUCCESS) return false;
    return readPageValue(element, out);
}

static_assert(kDecodePadding >= simdjson::SIMDJSON_PADDING);

std::optional<Element> parseDocument(std::string_view bytes, bool padded) {
    thread_local simdjson::dom::parser parser;
    Element root;
    if (parser.parse(bytes.data(), bytes.size(), !padded).get(root) != simdjson::SUCCESS) return std::nullopt;
    return root;
}

}  // namespace vellumora::json
