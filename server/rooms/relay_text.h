#pragma once
// The relay of a client message built from the bytes it came in as, where it is those bytes
// plus the sender's id: most of a room's traffic then needs no encoding. Only bytes already in
// the codec's layout qualify (its members in its order, no spaces, strings without escapes),
// so that peers read back exactly the message the room recorded.

#include <string>
#include <string_view>

#include "model/protocol.h"

namespace vellumora::server {

// Appends to `out` the relay of `bytes`, from which `message` was decoded and checked (with
// -0 folded), sent by the user whose id `userIdJson` is as a JSON string, quotes included.
// False, and `out` untouched, when the bytes do not qualify: the caller encodes instead.
bool relayFromBytes(std::string_view bytes, const ClientMessage& message, std::string_view userIdJson,
                    std::string& out);

// Most of a room's traffic is stroke_point in exactly the codec's layout, with plain ids: read
// without a JSON parser, as the decoder would read it, into `out` (whose stroke id keeps its
// buffer when `out` held a stroke_point already). False, and `out` unspecified, for anything
// else, which the caller decodes in full (and refuses or accepts exactly as before).
bool readPlainStrokePoint(std::string_view bytes, ClientMessage& out);
// The relay of bytes readPlainStrokePoint read, as relayFromBytes would build it.
void relayPlainStrokePoint(std::string_view bytes, std::string_view userIdJson, std::string& out);

}  // namespace vellumora::server
