#pragma once
// The few WebSocket pieces the load client needs beyond the server's framing: the handshake
// key and a masking key.

#include <cstddef>
#include <cstdint>
#include <string>

#include "websocket/ws_frame.h"

namespace vellumora::bench {

using server::ws::applyMask;
using server::ws::Opcode;

// A fresh Sec-WebSocket-Key: 16 random bytes in base64.
std::string websocketKey();

// A random masking key for one connection.
std::uint32_t randomMaskKey();

}  // namespace vellumora::bench
