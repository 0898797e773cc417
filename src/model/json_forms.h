#pragma once
// JSON forms of the drawing types and wire records: writers (used by the protocol encoder)
// and standalone readers of one value from JSON text.

#include <optional>
#include <string_view>

#include "model/drawing_types.h"
#include "model/json_writer.h"
#include "model/protocol.h"

namespace vellumora::json {

void write(Writer& writer, Tool tool);
void write(Writer& writer, const StrokePoint& point);
void write(Writer& writer, const WireColor& color);
void write(Writer& writer, const StrokeHeader& header);
void write(Writer& writer, const ArtColor& color);
void write(Writer& writer, const StrokeStartPayload& stroke);
void write(Writer& writer, const WirePage& page);
void write(Writer& writer, const std::optional<WirePage>& page);  // null when none
void write(Writer& writer, const WirePeer& peer);
void write(Writer& writer, const WireStroke& stroke);

}  // namespace vellumora::json

namespace vellumora {

// One value from its JSON text; none when it does not decode.
std::optional<Tool> decodeTool(std::string_view json);
std::optional<StrokePoint> decodeStrokePoint(std::string_view json);
std::optional<WireColor> decodeWireColor(std::string_view json);
std::optional<StrokeHeader> decodeStrokeHeader(std::string_view json);
std::optional<ArtColor> decodeArtColor(std::string_view json);

}  // namespace vellumora
