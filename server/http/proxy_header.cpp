#include "http/proxy_header.h"

#include <arpa/inet.h>

#include <cstring>

namespace vellumora::server::proxy {

namespace {
constexpr std::uint8_t kSignature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr std::uint8_t kCommandLocal = 0x20;
constexpr std::uint8_t kCommandProxy = 0x21;
constexpr std::uint8_t kTcpOverIpv4 = 0x11;
constexpr std::uint8_t kTcpOverIpv6 = 0x21;

Header invalid() {
    Header h;
    h.status = Header::Status::invalid;
    return h;
}
}  // namespace

Header parse(std::span<const std::uint8_t> data) {
    Header h;
    if (data.empty()) return h;
    // What has arrived of the signature must match already: a stray client is refused at once.
    if (std::memcmp(data.data(), kSignature, std::min(data.size(), sizeof kSignature)) != 0) return invalid();
    if (data.size() < kFixedBytes) return h;
    const std::uint8_t command = data[12];
    const std::uint8_t family = data[13];
    const std::size_t rest = std::size_t{data[14]} << 8 | data[15];
    if ((command != kCommandLocal && command != kCommandProxy) || rest > kMaxRestBytes) return invalid();
    h.needed = kFixedBytes + rest;
    if (data.size() < h.needed) return h;
    h.size = h.needed;
    const std::uint8_t* address = data.data() + kFixedBytes;
    // UNSPEC and UNIX carry no address of a TCP client: the connection is the proxy's own.
    if (command == kCommandLocal || (family != kTcpOverIpv4 && family != kTcpOverIpv6)) {
        if ((family & 0x0F) > 0x02) return invalid();
        h.status = Header::Status::local;
        return h;
    }
    const bool v6 = family == kTcpOverIpv6;
    if (rest < (v6 ? 36u : 12u)) return invalid();
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(v6 ? AF_INET6 : AF_INET, address, text, sizeof text);
    h.status = Header::Status::proxied;
    h.address = text;
    return h;
}

}  // namespace vellumora::server::proxy
