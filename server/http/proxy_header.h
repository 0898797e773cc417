#pragma once
// The PROXY protocol, version 2, as HAProxy's `send-proxy-v2` writes it in front of every
// connection it opens to us: who the client really is. Only connections from a trusted proxy
// are read this way; pure parsing, no I/O.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vellumora::server::proxy {

// The fixed part: signature, version and command, family, length of the rest.
inline constexpr std::size_t kFixedBytes = 16;
// Addresses and the TLVs a proxy adds; anything longer is refused.
inline constexpr std::size_t kMaxRestBytes = 1024;

struct Header {
    enum class Status {
        incomplete,  // `needed` bytes in all are required
        invalid,     // not a version 2 header, or one that breaks its rules
        local,       // the proxy's own connection (a health check): keep the socket's address
        proxied,     // a client's, whose address is `address`
    };
    Status status = Status::incomplete;
    std::size_t needed = kFixedBytes;
    std::size_t size = 0;  // the header's length, to skip before the request
    std::string address;   // text form, IPv4 or IPv6
};

Header parse(std::span<const std::uint8_t> data);

}  // namespace vellumora::server::proxy
