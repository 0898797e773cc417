#include "model/json_forms.h"

#include "model/json_reader.h"

namespace vellumora::json {

void write(Writer& writer, Tool tool) {
    writer.string(rawValue(tool));
}

void write(Writer& writer, const StrokePoint& point) {
    writer.beginObject();
    writer.member("x", point.x);
    writer.member("y", point.y);
    writer.member("pressure", point.pressure);
    writer.member("t", point.t);
    writer.endObject();
}

void write(Writer& writer, const WireColor& color) {
    writer.beginObject();
    writer.member("r", color.r);
    writer.member("g", color.g);
    writer.member("b", color.b);
    writer.member("a", color.a);
    writer.endObject();
}

namespace {
// The five members a stroke header, a stroke start and a history stroke share.
void writeHeaderMembers(Writer& writer, const std::string& id, const std::string& userId, Tool tool,
                        const WireColor& color, double brushSize) {
    writer.member("id", id);
    writer.member("userId", userId);
    writer.key("tool");
    write(writer, tool);
    writer.key("color");
    write(writer, color);
    writer.member("brushSize", brushSize);
}
}  // namespace

void write(Writer& writer, const StrokeHeader& header) {
    writer.beginObject();
    writeHeaderMembers(writer, header.id, header.userId, header.tool, header.color, header.brushSize);
    writer.endObject();
}

void write(Writer& writer, const ArtColor& color) {
    writer.beginObject();
    writer.member("id", color.id);
    writer.member("name", color.name);
    writer.member("r", color.r);
    writer.member("g", color.g);
    writer.member("b", color.b);
    writer.endObject();
}

void write(Writer& writer, const StrokeStartPayload& stroke) {
    writer.beginObject();
    writeHeaderMembers(writer, stroke.id, stroke.userId, stroke.tool, stroke.color, stroke.brushSize);
    writer.key("point");
    write(writer, stroke.point);
    writer.endObject();
}

void write(Writer& writer, const WirePage& page) {
    writer.beginObject();
    writer.member("pageId", page.pageId);
    writer.member("displayName", page.displayName);
    writer.member("mimeType", page.mimeType);
    writer.member("imageBase64", page.imageBase64);
    writer.endObject();
}

void write(Writer& writer, const std::optional<WirePage>& page) {
    if (page) {
        write(writer, *page);
    } else {
        writer.null();
    }
}

void write(Writer& writer, const WirePeer& peer) {
    writer.beginObject();
    writer.member("userId", peer.userId);
    writer.member("name", peer.name);
    writer.member("color", peer.color);
    writer.endObject();
}

void write(Writer& writer, const WireStroke& stroke) {
    writer.beginObject();
    writeHeaderMembers(writer, stroke.id, stroke.userId, stroke.tool, stroke.color, stroke.brushSize);
    writer.key("points");
    writer.beginArray();
    for (const auto& point : stroke.points) write(writer, point);
    writer.endArray();
    writer.key("complete");
    writer.boolean(stroke.complete);
    writer.endObject();
}

}  // namespace vellumora::json

namespace vellumora {

namespace {
template <typename T>
std::optional<T> decodeValue(std::string_view text) {
    const auto root = json::parseDocument(text);
    T value{};
    if (!root || !json::read(*root, value)) return std::nullopt;
    return value;
}
}  // namespace

std::optional<Tool> decodeTool(std::string_view json) {
    return decodeValue<Tool>(json);
}
std::optional<StrokePoint> decodeStrokePoint(std::string_view json) {
    return decodeValue<StrokePoint>(json);
}
std::optional<WireColor> decodeWireColor(std::string_view json) {
    return decodeValue<WireColor>(json);
}
std::optional<StrokeHeader> decodeStrokeHeader(std::string_view json) {
    return decodeValue<StrokeHeader>(json);
}
std::optional<ArtColor> decodeArtColor(std::string_view json) {
    return decodeValue<ArtColor>(json);
}

}  // namespace vellumora
