#pragma once
// The few WebSocket pieces the load client needs: opcodes, masking and the handshake key.

#include <cstddef>
#include <cstdint>
#include <string>

#include "websocket/ws_frame.h"

namespace vellumora::bench {

using server::ws::applyMask;

constexpr unsigned kContinuation = 0x0;
constexpr unsigned kText = 0x1;
constexpr unsigned kBinary = 0x2;
constexpr unsigned kClose = 0x8;
constexpr unsigned kPing = 0x9;
constexpr unsigned kPong = 0xA;

// A fresh Sec-WebSocket-Key: 16 random bytes in base64.
std::string websocketKey();

// A random masking key for one connection.
std::uint32_t randomMaskKey();

}  // namespace vellumora::bench
